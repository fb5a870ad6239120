#pragma once

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class WinePrefix;

// A fresh simulated Windows machine in a temporary directory, made by the
// built tarnwick-sim, with helpers to run the built tools inside it and to
// read what they left behind.
//
// With TARNWICK_TEST_MACHINE=windows in the environment, the machine is the
// Windows machine under Wine instead: the same simulated machine, plus a Wine
// prefix in which the Windows build of the tool runs (wineprefix.h). Journal
// and faults are the same files; the registry is mirrored in both directions
// around the tool's runs, so that every helper reads and writes it alike.
class TestMachine
{
public:
    struct Run
    {
        int exitCode = -1;
        QByteArray standardOutput;
        QByteArray standardError;
    };

    // The built tarnwick-dns.
    static QString toolPath();
    // Whether the tests run against the Windows machine under Wine
    // (TARNWICK_TEST_MACHINE=windows).
    static bool windowsWanted();
    // Whether every machine is made with SetInterfaceDnsSettings
    // (TARNWICK_TEST_DNS_API=with), as Windows 10 2004 and later.
    static bool nativeDnsWanted();

    // `createArguments` follow "tarnwick-sim create ROOT".
    explicit TestMachine(const QStringList &createArguments = {QStringLiteral("--sample")});
    ~TestMachine();

    bool isValid() const { return valid; }
    // The Windows machine under Wine rather than the simulated one.
    bool isWindows() const { return !wine.isNull(); }
    QString root() const { return directory.path() + QStringLiteral("/machine"); }
    QString vendorFolder() const;
    QString dataFilePath() const { return vendorFolder() + QStringLiteral("/dns.dat"); }
    // The data file's path as the tool names it in log lines.
    QString dataFileNameInLog() const;
    QString logFilePath() const { return vendorFolder() + QStringLiteral("/tarnwick-dns.log"); }
    // The line end of the tool's text files: CR LF on Windows.
    QByteArray lineEnd() const { return isWindows() ? "\r\n" : "\n"; }

    // The variables that `tarnwick-sim env` exports (the simulated machine),
    // or those of the Wine prefix.
    QProcessEnvironment environment() const;
    // Adds these variables to the environment of every program run inside
    // the machine from now on.
    void addToEnvironment(const QProcessEnvironment &variables) { added.insert(variables); }
    // Points this process at the simulated machine, for in-process tests.
    void enter() const;

    // Runs the built tarnwick-dns inside the machine and waits for it.
    Run runTool(const QStringList &arguments) const;
    // Starts the built tarnwick-dns inside the machine without waiting.
    void startTool(QProcess &process, const QStringList &arguments) const;
    // Runs a Windows program under Wine inside the Windows machine and waits
    // for it: `arguments` are wine's, such as cmd, /c and a batch file.
    Run runInWine(const QStringList &arguments) const;
    // The same without waiting.
    void startInWine(QProcess &process, const QStringList &arguments) const;
    // `tarnwick-sim show`.
    QString show() const;

    // The data file's groups but "Record" (its generation, in every file
    // written), and a value such as "UserDns/Args".
    QStringList dataFileGroups() const;
    QString dataFileValue(const QString &key) const;

    // Log lines without their time stamp and line end: "<type>\t<message>".
    QStringList logLines() const;
    // Journal lines, fields separated by TAB.
    QStringList journal() const;
    QStringList journalOf(const QString &program) const;
    // The netsh calls, each as its arguments joined by single blanks.
    QStringList netshCalls() const;
    void clearJournal() const;

    void setFaults(const QString &program, const QStringList &rules) const;
    void clearFaults(const QString &program) const;
    // Makes a stand-in misbehave: "missing" removes the command (from ROOT/bin,
    // or from the Wine prefix's system folder), "unstartable" keeps it there
    // but open for writing, which fails every start of it (simulated machine
    // only), any other text is one fault rule, "" changes nothing. False when
    // it cannot.
    bool breakProgram(const QString &program, const QString &fault) const;

    // Every key of the machine's registry, as full key paths, sorted.
    QStringList registryKeys() const;
    // A registry value below HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet.
    QString registryValue(const QString &keyBelowControlSet, const QString &name) const;
    void setRegistryValue(const QString &keyBelowControlSet, const QString &name,
                          const QString &text) const;
    // "NameServer" of an interface's Tcpip (ipv4) or Tcpip6 key.
    QString nameServer(const QString &id, bool ipv4) const;
    void setNameServer(const QString &id, bool ipv4, const QString &servers) const;
    // Makes that "NameServer" a value that cannot be read as text: a REG_DWORD
    // on Windows, a directory in its place on the simulated machine.
    void makeNameServerUnreadable(const QString &id, bool ipv4) const;

private:
    // Brings the registry that was changed last to the other side.
    void readBackFromWine() const;
    void loadIntoWine() const;

    QTemporaryDir directory;
    bool valid = false;
    QScopedPointer<WinePrefix> wine;
    QProcessEnvironment added;
    mutable QFile heldOpen;             // an unstartable command
    mutable bool changedHere = true;    // the simulated registry, since the last load
    mutable bool changedInWine = false; // the tool ran since the last read-back
};

// Every end-to-end test runs on both machines (tests/CMakeLists.txt gives
// each test program a windows-labelled twin). A test of what only the
// simulated machine has, or cannot run under Wine, says so and why with this
// as its first statement.
#define SIMULATED_MACHINE_ONLY(reason)                                                             \
    do {                                                                                           \
        if (TestMachine::windowsWanted())                                                          \
            QSKIP(reason);                                                                         \
    } while (false)

// A test of what netsh does, which a machine with SetInterfaceDnsSettings
// (TARNWICK_TEST_DNS_API=with) leaves to that function: skipped there.
#define NETSH_PATH_ONLY()                                                                          \
    do {                                                                                           \
        if (TestMachine::nativeDnsWanted())                                                        \
            QSKIP("SetInterfaceDnsSettings sets the lists here, not netsh");                       \
    } while (false)

// The reason of a test or step that makes wmic fail or list nothing: the
// tool then lists adapters with GetAdaptersAddresses, which under Wine is
// Windows' own and lists the Linux host's adapters.
constexpr const char wineListsTheHostsAdapters[] =
    "under Wine, GetAdaptersAddresses lists the Linux host's adapters, whose GUIDs no key of the "
    "machine has: a failing wmic lists no interface there";

// The GUIDs of the sample machine's interfaces.
namespace sample {
extern const QString ethernet;    // static IPv4 servers
extern const QString wifi;        // DHCP only
extern const QString ethernet2;   // IPv4 and IPv6, lower-case keys
extern const QString tap;         // the VPN's TAP adapter
extern const QString kernelDebug; // never listed
extern const QString unnamed;     // no connection name, never listed
extern const QString otherTap;    // another product's TAP adapter (--with-second-tap)

// The VPN's servers, and the command line of the client's switch to the VPN
// with the TAP adapter's entry.
extern const QString vpnIpv4;
extern const QString vpnIpv6;
QStringList vpnArguments();
} // namespace sample
