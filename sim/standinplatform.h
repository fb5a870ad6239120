#pragma once

#include "machinecommands.h"

#include <QString>
#include <QStringList>

// What the stand-ins for the system commands need of the machine they run
// on: the simulated machine on Linux (standinplatform_sim.cpp), the real
// registry and processes under Wine (standinplatform_win.cpp).

// The registry the stand-ins read and change.
class MachineRegistry : public RegistryAccess
{
public:
    // `root` is the simulated machine's folder; the Windows registry needs none.
    explicit MachineRegistry(const QString &root);

    bool hasKey(const QString &keyPath) const override;
    QStringList subkeys(const QString &keyPath) const override;
    QString value(const QString &keyPath, const QString &name) const override;
    bool setValue(const QString &keyPath, const QString &name, const QString &text) const override;

private:
    QString root;
};

// The program's name as it was run (without folder and ".exe"), then its
// arguments.
QStringList standinCommandLine(int argc, char **argv);

// Writes the bytes to standard output as they are: Windows' C runtime would
// otherwise write each LF as CR LF.
void writeToStandardOutput(const QByteArray &bytes);

// Sleeps for `ms` milliseconds.
void pause(int ms);

// Appends the bytes to the file, creating it, as one write at the file's end
// as it is then: stand-ins of overlapping runs write the same journal.
// False when the file cannot be written.
bool appendToFile(const QString &path, const QByteArray &bytes);

// Ends the program as a crash, without leaving a core dump.
[[noreturn]] void crash();
