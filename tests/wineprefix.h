#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The Windows side of a test machine: a copy of the Wine prefix that the
// wine_template fixture made, in which the Windows build of tarnwick-dns runs
// with the Windows stand-ins. The stand-ins keep their journal and obey their
// fault rules in the simulated machine's folder, and the prefix's registry
// is loaded from and read back into the simulated machine's registry, which
// stays the one the tests read and change.
class WinePrefix
{
public:
    // Whether the Windows build and the template prefix are there.
    static bool windowsBuildPresent();
    // The Windows build of tarnwick-dns, in its deployable folder.
    static QString toolPath();
    // The path of a Unix file as Windows programs under Wine name it.
    static QString windowsPath(const QString &path);

    // Copies the template into `path`, for the simulated machine in `root`.
    WinePrefix(const QString &path, const QString &root);
    // Ends the prefix's wineserver and every program still running in it.
    ~WinePrefix();
    WinePrefix(const WinePrefix &) = delete;
    WinePrefix &operator=(const WinePrefix &) = delete;

    bool isValid() const { return valid; }
    // C:\ProgramData of the prefix.
    QString programData() const;

    // The environment of programs run in the prefix.
    QProcessEnvironment environment() const;
    // Starts a Windows program under Wine without waiting: `arguments` are
    // wine's, the program and its arguments; `environment` is made from the prefix's.
    void start(QProcess &process, const QStringList &arguments, const QProcessEnvironment &) const;

    // Removes a command's stand-in from the system folder, as a command
    // that is not installed (Wine then runs no built-in one in its place).
    bool removeCommand(const QString &command) const;

    // Replaces the prefix's machine keys with the simulated machine's.
    bool loadRegistry() const;
    // Replaces the simulated machine's keys with the prefix's.
    bool readBackRegistry() const;

private:
    bool runWine(const QStringList &arguments) const;
    // Exports the machine's root keys and puts them into the simulated one.
    bool exportRegistry() const;

    QString path;
    QString root;
    bool valid = false;
};
