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
    // The sample machine, with only the interfaces among Ethernet, Wi-Fi,
    // Ethernet 2 and another product's TAP adapter, Other VPN, that
    // `userInterfaces` names (the first three when empty).
    explicit MemTool(const QStringList &userInterfaces = {});
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
    Run run(const QStringList &arguments, const MemMachine::RunFaults &faults = {});

    // The registry and every file of the vendor folder, with its owner, and
    // the names of its folders (put back empty), to be put back whole; the
    // log and the journal start empty then.
    struct Snapshot
    {
        MemMachine::Registry registry;
        QStringList folders;
        struct File
        {
            QString name;
            QByteArray bytes;
            uint owner = 0;
        };
        QList<File> files;
    };
    Snapshot snapshot() const;
    void restore(const Snapshot &snapshot);

private:
    QTemporaryDir programData;
    std::unique_ptr<MemMachine> machine;
};
