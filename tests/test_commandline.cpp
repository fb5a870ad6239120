#include "testmachine.h"

#include <QtTest>

// The built tarnwick-dns in a fresh simulated machine: which command lines it
// accepts, its exit codes and what it logs about them.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void acceptsOrRejects_data();
    void acceptsOrRejects();
    void answersWithoutActing_data();
    void answersWithoutActing();
    void logsIntoTheVendorFolder();
    void withoutProgramDataLogsToStandardError();
};

void TestCommandLine::acceptsOrRejects_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("firstLine");

    const QString invalid = QStringLiteral("warning\tDns: Invalid command line arguments");
    QTest::newRow("no words") << QStringList{} << 255 << invalid;
    QTest::newRow("vpn alone") << QStringList{"vpn"} << 255 << invalid;
    QTest::newRow("user alone") << QStringList{"user"} << 255 << invalid;
    QTest::newRow("unknown word") << QStringList{"switch"} << 255 << invalid;
    QTest::newRow("unknown word with entries") << QStringList{"switch", "a@b"} << 255 << invalid;
    QTest::newRow("mode word in capitals") << QStringList{"VPN", "a@b"} << 255 << invalid;
    QTest::newRow("Reset capitalised") << QStringList{"Reset"} << 255 << invalid;
    const QString noServer = invalid + QStringLiteral(": no VPN server");
    QTest::newRow("vpn with an empty word") << QStringList{"vpn", ""} << 255 << noServer;
    const QString notAddresses = invalid + QStringLiteral(": not addresses: '10.64.0.l'");
    QTest::newRow("vpn whose one server is a typo")
        << QStringList{"vpn", "{X}@10.64.0.l"} << 255 << notAddresses;
    QTest::newRow("vpn with a typo beside good servers")
        << QStringList{"vpn", sample::tap + "@10.64.0.l,fd00:64::1", "{X}@10.64.0.2"} << 255
        << notAddresses;
    QTest::newRow("vpn without @") << QStringList{"vpn", "plain"} << 255 << noServer;

    QTest::newRow("reset") << QStringList{"reset"} << 0
                           << "info\tDns: Initialized with 'Reset' mode";
    QTest::newRow("reset drops further words")
        << QStringList{"reset", "x", "y"} << 0 << "info\tDns: Initialized with 'Reset' mode";
    QTest::newRow("vpn with an empty item")
        << QStringList{"vpn", sample::tap + "@10.64.0.1,"} << 0
        << "info\tDns: Initialized with 'VPN DNS' mode and args '" + sample::tap + "@10.64.0.1,'";
    QTest::newRow("user with two words")
        << QStringList{"user", "a", "b"} << 0
        << "info\tDns: Initialized with 'User DNS' mode and args 'a b'";
}

void TestCommandLine::acceptsOrRejects()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);

    TestMachine machine;
    QVERIFY(machine.isValid());
    const TestMachine::Run run = machine.runTool(arguments);
    QCOMPARE(run.exitCode, exitCode);

    const QStringList lines = machine.logLines();
    QCOMPARE(lines.value(0), firstLine);
    if (exitCode == 0) {
        QCOMPARE(lines.value(1), QStringLiteral("info\tDns: Process started"));
        QCOMPARE(lines.last(), QStringLiteral("info\tDns: Process finished"));
        QCOMPARE(run.standardError, QByteArray());
    } else {
        // Checked up to three times, warned about once; nothing else is done,
        // and the items that are no address are named.
        QCOMPARE(lines.size(), 1);
        const bool items = firstLine.contains("not addresses");
        QCOMPARE(run.standardError.count('\n'), items ? 2 : 1);
        QVERIFY(run.standardError.startsWith("usage: tarnwick-dns"));
        QCOMPARE(run.standardError.contains("tarnwick-dns: not addresses: '10.64.0.l'\n"), items);
        QVERIFY(!QFileInfo::exists(machine.dataFilePath()));
    }
}

// A lone --help or --version, and any mode but status without elevation:
// one answer, and no folder, log or run.
void TestCommandLine::answersWithoutActing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<QString>("output"); // how standard output, else error, starts
    QTest::newRow("--help") << QStringList{"--help"} << true << "usage: tarnwick-dns";
    QTest::newRow("--version") << QStringList{"--version"} << true << "tarnwick-dns 1.0.0\n";
    QTest::newRow("vpn, not elevated") << sample::vpnArguments() << false << "";
}

void TestCommandLine::answersWithoutActing()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, elevated);
    QFETCH(QString, output);
    if (!elevated)
        SIMULATED_MACHINE_ONLY("the run is made as another user");
    TestMachine machine;
    QVERIFY(machine.isValid());
    const QString before = machine.show();
    QProcess tool;
    tool.setProcessEnvironment(machine.environment());
    if (elevated)
        machine.startTool(tool, arguments);
    else
        tool.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                          TestMachine::toolPath()} +
                                  arguments);
    QVERIFY(tool.waitForFinished(60000));
    // Without elevation nothing is done: not success.
    QCOMPARE(tool.exitCode(), elevated ? 0 : 12);
    const QByteArray standardOutput = tool.readAllStandardOutput();
    const QByteArray standardError = tool.readAllStandardError();
    if (elevated) {
        QVERIFY2(standardOutput.startsWith(output.toUtf8()), standardOutput.constData());
        QCOMPARE(standardError, QByteArray());
    } else {
        QCOMPARE(standardOutput, QByteArray());
        QCOMPARE(standardError.count('\n'), 1);
        QVERIFY(standardError.contains("not elevated"));
    }
    QVERIFY(!QFileInfo::exists(machine.vendorFolder()));
    QCOMPARE(machine.show(), before);
}

void TestCommandLine::logsIntoTheVendorFolder()
{
    TestMachine machine;
    QVERIFY(machine.isValid());
    QVERIFY(!QFileInfo::exists(machine.vendorFolder()));
    QCOMPARE(machine.runTool({QStringLiteral("reset")}).exitCode, 0);
    QCOMPARE(machine.runTool({QStringLiteral("user")}).exitCode, 255);

    // One log file, continued by the second run, in the folder the first made.
    QCOMPARE(QDir(machine.vendorFolder()).entryList(QDir::Files).filter(QStringLiteral(".log")),
             QStringList{QStringLiteral("tarnwick-dns.log")});
    const QStringList lines = machine.logLines();
    QCOMPARE(lines.first(), QStringLiteral("info\tDns: Initialized with 'Reset' mode"));
    QCOMPARE(lines.last(), QStringLiteral("warning\tDns: Invalid command line arguments"));
}

void TestCommandLine::withoutProgramDataLogsToStandardError()
{
    SIMULATED_MACHINE_ONLY("Windows always has a ProgramData folder");
    // No data location holds "ProgramData": the log must not be set up in the
    // current directory, where its clean-up would delete other .log files.
    TestMachine machine;
    QVERIFY(machine.isValid());
    QTemporaryDir workingDirectory;
    for (int i = 0; i < 12; ++i)
        QVERIFY(QFile(workingDirectory.filePath(QString("other%1.log").arg(i)))
                    .open(QIODevice::WriteOnly));

    QProcessEnvironment environment = machine.environment();
    environment.insert("XDG_DATA_HOME", workingDirectory.filePath("share"));
    environment.insert("XDG_DATA_DIRS", "/usr/share");
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.setWorkingDirectory(workingDirectory.path());
    tool.start(TestMachine::toolPath(), {"reset"});
    QVERIFY(tool.waitForFinished(60000));

    QCOMPARE(tool.exitCode(), 12);
    QCOMPARE(QDir(workingDirectory.path()).entryList(QDir::Files).size(), 12);
    const QString errors = QString::fromUtf8(tool.readAllStandardError());
    QVERIFY2(errors.contains("Utils: Can't find 'ProgramData' path!"), qPrintable(errors));
    QVERIFY(errors.contains("Dns: Process finished"));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
