#include "testmachine.h"

#include <QtTest>

namespace {

const QString vendorLog = QStringLiteral("tarnwick-dns.log");

// A run's log lines with the lister's milliseconds masked.
QStringList comparableLogLines(const TestMachine &machine)
{
    return machine.logLines().replaceInStrings(QRegularExpression("[\\d.]+ ms"), "N ms");
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
}

} // namespace

// Whole runs of the built tarnwick-dns on fresh sample machines, fed what an
// attacker or a broken client could hand it: nothing but plain addresses may
// reach netsh and the data file, no link is written through, and every run
// stays bounded.
class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void nonPlainAddressesNeverReachNetsh_data();
    void nonPlainAddressesNeverReachNetsh();
    void forgedNameServerIsNotRecorded();
    void linkedDataFileIsSetAside_data();
    void linkedDataFileIsSetAside();
    void linkedLogFileIsNeverWritten();
    void largeLogFileIsKeptAndStartedAfresh();
    void hugeCommandLinesStayBounded();
    void qtConfigurationChangesNothing_data();
    void qtConfigurationChangesNothing();

private:
    QScopedPointer<TestMachine> machine;
};

void TestHostileInput::init()
{
    machine.reset(new TestMachine);
    QVERIFY(machine->isValid());
}

void TestHostileInput::nonPlainAddressesNeverReachNetsh_data()
{
    QTest::addColumn<QString>("item");

    QTest::newRow("scope id with netsh words") << "fd00::1%x\" static 6.6.6.6 primary";
    QTest::newRow("scope id with &") << "fd00::1%a&calc";
    QTest::newRow("scope id with backticks") << "fd00::1%`id`";
    QTest::newRow("scope id with $(id)") << "fd00::1%$(id)";
    QTest::newRow("scope id with a newline") << "fd00::1%x\n6.6.6.6";
    QTest::newRow("one number") << "1";
    QTest::newRow("two parts") << "127.1";
    QTest::newRow("leading zeros") << "01.02.03.04";
    QTest::newRow("octal-looking") << "010.0.0.1";
    QTest::newRow("hex part") << "0x7f.1";
    QTest::newRow("32-bit number") << "4294967295";
}

void TestHostileInput::nonPlainAddressesNeverReachNetsh()
{
    QFETCH(QString, item);

    // Refused whole, beside a good server too: what is left would clear a
    // protocol's list.
    const TestMachine::Run run =
        machine->runTool({"vpn", sample::tap + "@" + item + ",172.16.0.9"});
    QCOMPARE(run.exitCode, 255);
    QVERIFY(run.standardError.contains("not addresses: '"));
    QCOMPARE(machine->netshCalls(), QStringList());
    QVERIFY(!QFileInfo::exists(machine->dataFilePath()));
    QCOMPARE(machine->logLines().filter("warning\t"),
             QStringList{"warning\tDns: Invalid command line arguments: not addresses: '" +
                         item.simplified() + "'"});
}

void TestHostileInput::forgedNameServerIsNotRecorded()
{
    const QString forged = "192.0.2.53;" + sample::ethernet2 + "@6.6.6.6,2001:db8::66";
    machine->setNameServer(sample::ethernet, true, forged);
    QCOMPARE(machine->runTool({"vpn", sample::tap + "@172.16.0.1"}).exitCode, 0);
    QVERIFY(machine->logLines().contains(
        "warning\tDnsManager: NameServer of 'Ethernet' (ID: " + sample::ethernet +
        ", IPv4) holds items that are not addresses, left out: " +
        QString(forged).replace(',', ' ')));
    QVERIFY(!machine->dataFileValue("UserDns/Args").contains("6.6.6.6"));

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->nameServer(sample::ethernet2, true), QStringLiteral("198.51.100.53"));
    QCOMPARE(machine->nameServer(sample::ethernet2, false), QStringLiteral("2001:db8::53"));
    QCOMPARE(machine->nameServer(sample::ethernet, true), QString());
}

void TestHostileInput::linkedDataFileIsSetAside_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("targetExists");

    const QStringList vpn = {"vpn", sample::tap + "@172.16.0.1"};
    QTest::newRow("vpn, link to a file") << vpn << true;
    QTest::newRow("vpn, dangling link") << vpn << false;
    QTest::newRow("user, link to a file")
        << QStringList{"user", sample::ethernet + "@9.9.9.9"} << true;
}

void TestHostileInput::linkedDataFileIsSetAside()
{
    SIMULATED_MACHINE_ONLY("Wine shows a symbolic link to a file as the file itself");
    QFETCH(QStringList, arguments);
    QFETCH(bool, targetExists);

    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("target.ini");
    const QByteArray content = "[VpnDns]\nIPv4=172.16.0.1\n";
    if (targetExists)
        writeFile(target, content);
    QVERIFY(QDir().mkpath(machine->vendorFolder()));
    QVERIFY(QFile::link(target, machine->dataFilePath()));
    const QString before = machine->show();

    // Whoever made the link would choose what the tool reads and overwrites:
    // it is set aside, neither read nor followed, and the run goes on.
    QCOMPARE(machine->runTool(arguments).exitCode, 0);
    QCOMPARE(fileContent(target), targetExists ? content : QByteArray("(missing)"));
    QVERIFY(!QFileInfo(machine->dataFilePath()).isSymLink());
    const QStringList aside = QDir(machine->vendorFolder())
                                  .entryList({"dns.dat.untrusted-*"}, QDir::Files | QDir::System);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(QFileInfo(machine->vendorFolder() + '/' + aside.first()).symLinkTarget(), target);
    QVERIFY(machine->show() != before);
    // Set aside, it counts as a file that does not read whole, not as none.
    QCOMPARE(machine->logLines().filter("warning\t"),
             QStringList({"warning\tUtils: '" + machine->dataFileNameInLog() +
                              "' is not ours, set aside as '" + machine->dataFileNameInLog() +
                              aside.first().mid(7) + "'",
                          "warning\tDns: DNS record: neither '" + machine->dataFileNameInLog() +
                              "' nor its copy reads whole, no record of the user's DNS servers"}));
}

void TestHostileInput::linkedLogFileIsNeverWritten()
{
    SIMULATED_MACHINE_ONLY("Wine shows a symbolic link to a file as the file itself");
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("target.log");
    QVERIFY(QDir().mkpath(machine->vendorFolder()));
    QVERIFY(QFile::link(target, machine->logFilePath()));

    const TestMachine::Run run = machine->runTool({"vpn", sample::tap + "@172.16.0.1"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!QFile::exists(target));
    // Set aside as any planted file, never followed; the run logs afresh.
    QCOMPARE(QDir(machine->vendorFolder())
                 .entryList({"tarnwick-dns.log.untrusted-*"}, QDir::Files | QDir::System)
                 .size(),
             1);
    QVERIFY(!machine->logLines().filter("Dns: Process finished").isEmpty());
    QCOMPARE(machine->nameServer(sample::ethernet, true), QStringLiteral("172.16.0.1"));
}

void TestHostileInput::largeLogFileIsKeptAndStartedAfresh()
{
    QVERIFY(QDir().mkpath(machine->vendorFolder()));
    const QByteArray large(5 * 1024 * 1024, 'x');
    writeFile(machine->logFilePath(), large);

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QVERIFY(QFileInfo(machine->logFilePath()).size() < 64 * 1024);
    QVERIFY(machine->logLines().first().contains("Initialized with 'Reset' mode"));
    const QStringList kept =
        QDir(machine->vendorFolder()).entryList({"tarnwick-dns-*.log"}, QDir::Files);
    QCOMPARE(kept.size(), 1);
    QVERIFY2(QRegularExpression("^tarnwick-dns-\\d{8}-\\d{6}-\\d{3}\\.log$")
                 .match(kept.first())
                 .hasMatch(),
             qPrintable(kept.first()));
    QCOMPARE(QFileInfo(kept.first()).completeSuffix(), QStringLiteral("log"));
    QCOMPARE(fileContent(machine->vendorFolder() + '/' + kept.first()), large);
}

void TestHostileInput::hugeCommandLinesStayBounded()
{
    SIMULATED_MACHINE_ONLY("a Windows command line holds at most 32767 characters");
    // 16 000 servers in one word (just under the 128 KiB a word may have on
    // Linux), then 1 100 words with 40 servers each.
    // Distinct servers first: a repeated one counts once.
    QStringList servers;
    for (int i = 0; i < 32; ++i)
        servers.append(QStringLiteral("10.0.0.%1").arg(i));
    servers += QVector<QString>(16000 - 32, "1.1.1.1").toList();
    const QString huge = sample::ethernet + "@" + servers.join(',');
    const QString fortyServers =
        "{X}@" + QStringList(QVector<QString>(40, "2.2.2.2").toList()).join(',');
    QStringList arguments = {"user", huge};
    arguments += QVector<QString>(1100, fortyServers).toList();

    QCOMPARE(machine->runTool(arguments).exitCode, 0);
    // One set and 15 adds: the first 16 items, as many as a vpn run records.
    QCOMPARE(machine->netshCalls().size(), 16);
    const QStringList warnings = machine->logLines().filter("warning\t");
    QCOMPARE(warnings.filter("entries, the last").size(), 1);
    QCOMPARE(warnings.first(), QStringLiteral("warning\tDns: More than 1024 entries, the last "
                                              "77 are ignored"));
    QCOMPARE(warnings.filter("servers, the last").size(), 1024);
    QVERIFY(QFileInfo(machine->logFilePath()).size() < 1024 * 1024);
}

QTEST_GUILESS_MAIN(TestHostileInput)
#include "test_hostileinput.moc"

void TestHostileInput::qtConfigurationChangesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("vpn with an item that is no address")
        << QStringList{"vpn", sample::tap + "@172.16.0.9,not-an-address"};
    QTest::newRow("reset without a data file") << QStringList{"reset"};
}

// Qt's variables and a qtlogging.ini in the person's own environment and
// profile change neither what a warning run does nor what it logs.
void TestHostileInput::qtConfigurationChangesNothing()
{
    QFETCH(QStringList, arguments);
    TestMachine reference;
    const TestMachine::Run expected = reference.runTool(arguments);
    QTemporaryDir profile;
    QVERIFY(QDir(profile.path()).mkpath("QtProject"));
    writeFile(profile.filePath("QtProject/qtlogging.ini"), "[Rules]\n*=false\n");
    QProcessEnvironment qt;
    for (const char *name : {"QT_PLUGIN_PATH", "XDG_CONFIG_HOME"})
        qt.insert(name, profile.path());
    qt.insert("QT_FATAL_WARNINGS", "1");
    qt.insert("QT_LOGGING_RULES", "*=false");
    qt.insert("QT_MESSAGE_PATTERN", "%{message}");
    machine->addToEnvironment(qt);
    const TestMachine::Run run = machine->runTool(arguments);
    QCOMPARE(run.exitCode, expected.exitCode);
    QCOMPARE(machine->show(), reference.show());
    QCOMPARE(fileContent(machine->dataFilePath()), fileContent(reference.dataFilePath()));
    QCOMPARE(comparableLogLines(*machine), comparableLogLines(reference));
    QVERIFY(!machine->logLines().filter("warning\t").isEmpty());
}
