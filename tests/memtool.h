#pragma once

#include "memmachine.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// The tool run in the test's own process against a machine in memory
// (memmachine.h), the sample machine's registry in it and its vendor folder
// on real files in a temporary folder (in /dev/shm where there is one, so
// that a flush costs nothing). A run is what main does with the command
// line, its log lines captured in the machine; its kill points and faults
// are the machine's.
class MemTool
{
public:
    MemTool();
    bool isValid() const { return machine != nullptr; }
    MemMachine &memory() { return *machine; }
    const MemMachine &memory() const { return *machine; }
    QString vendorFolder() const { return programData.path() + QStringLiteral("/Tarnwick"); }

    struct Run
    {
        int exitCode = -1;
        QByteArray standardOutput;
        QByteArray standardError;
        bool killed = false;
    };
    // See MemMachine::startRun for the kill points.
    Run run(const QStringList &arguments, int killAtTick = 0, const QString &killAtText = {});

private:
    QTemporaryDir programData;
    std::unique_ptr<MemMachine> machine;
};
