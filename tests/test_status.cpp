#include "testmachine.h"

#include <QtTest>

#include <unistd.h>

// The status mode of the built tarnwick-dns in a fresh sample machine: each
// state reached as a user would reach it, its JSON, and that asking changes
// nothing.
class TestStatus : public QObject
{
    Q_OBJECT

private slots:
    void answersTheStateAndChangesNothing_data();
    void answersTheStateAndChangesNothing();
    void unknownSaysWhy_data();
    void unknownSaysWhy();
};

namespace {

const QString connections =
    QStringLiteral("Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\");
// A connection name outside ASCII, which must reach a pipe as UTF-8.
const QString unicodeName = QStringLiteral("Ethernet \u00fc\u2713");

// Brings the machine to a step's state: a run ("RUN | fail TEXT": the netsh
// calls holding TEXT fail), a name, or an interface made unreadable or
// unplugged.
void apply(const TestMachine &machine, const QString &step)
{
    const QString run = step.section(QStringLiteral(" | "), 0, 0);
    if (step.contains(QLatin1String(" | ")))
        machine.setFaults(QStringLiteral("netsh"), {step.section(QStringLiteral(" | "), 1)});
    if (step == QLatin1String("unicode name"))
        machine.setRegistryValue(connections + sample::ethernet + "\\Connection", "Name",
                                 unicodeName);
    else if (step == QLatin1String("unreadable"))
        machine.makeNameServerUnreadable(sample::wifi, true);
    else if (step == QLatin1String("unparsed")) // beside the VPN's, by another program
        machine.setNameServer(sample::ethernet, false, sample::vpnIpv6 + ",fe80::1%12");
    else if (step == QLatin1String("tap changed"))
        machine.setNameServer(sample::tap, true, "192.0.2.200");
    else if (step == QLatin1String("garble")) {
        QFile dataFile(machine.dataFilePath());
        QVERIFY(dataFile.open(QIODevice::WriteOnly) &&
                dataFile.write(QByteArray("\xff\xfe[\0V", 5)) == 5);
    } else if (step == QLatin1String("untrusted copy")) {
        const QByteArray copy = QFile::encodeName(machine.dataFilePath() + ".copy");
        QCOMPARE(chown(copy.constData(), 65534, 65534), 0);
    } else if (step == QLatin1String("unplug"))
        QDir(machine.root() + "/registry/HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/" +
             QString(connections).replace('\\', '/') + sample::ethernet)
            .removeRecursively();
    else if (run == QLatin1String("reset"))
        machine.runTool({run});
    else
        machine.runTool(sample::vpnArguments());
    machine.clearFaults(QStringLiteral("netsh"));
}

// What the tool could change: the registry, the vendor folder's files and
// their bytes.
QString snapshot(const TestMachine &machine)
{
    QString state = machine.show();
    QDirIterator files(machine.vendorFolder(), QDir::Files | QDir::Hidden);
    while (files.hasNext()) {
        QFile file(files.next());
        state += file.fileName() + (file.open(QIODevice::ReadOnly) ? file.readAll() : "?");
    }
    return state;
}

} // namespace

void TestStatus::answersTheStateAndChangesNothing_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("switched");    // how many interfaces are switched
    QTest::addColumn<QString>("leftOut"); // "NAME: REASON" of the one left out
    QTest::addColumn<int>("onVpn");       // how many hold the record's VPN servers
    // "NAME: CAUSE" of each interface with a cause, "!" after a possible leak
    QTest::addColumn<QString>("causes");

    const QString notListed = sample::ethernet + ": notListed";
    QTest::newRow("fresh machine")
        << QStringList{"unicode name"} << "none" << 0 << 0 << "" << 0 << "";
    QTest::newRow("after vpn") << QStringList{"unicode name", "vpn"} << "switched" << 10 << 3 << ""
                               << 4 << "";
    QTest::newRow("vpn failing on one interface")
        << QStringList{"vpn | fail name= Wi-Fi static"} << "partial" << 11 << 3 << "" << 3
        << "Wi-Fi: differs!";
    QTest::newRow("after vpn and reset")
        << QStringList{"vpn", "reset"} << "none" << 0 << 0 << "" << 0 << "";
    QTest::newRow("half-done reset")
        << QStringList{"vpn", "reset | fail name= Wi-Fi static none"} << "partial" << 11 << 1 << ""
        << 2 << "Ethernet: differs!; Ethernet 2: differs!";
    QTest::newRow("unreadable NameServer")
        << QStringList{"vpn", "unreadable"} << "partial" << 11 << 3
        << "Wi-Fi: IPv4 NameServer cannot be read" << 3 << "Wi-Fi: unreadable!";
    QTest::newRow("a server it cannot parse beside the VPN's")
        << QStringList{"vpn", "unparsed"} << "partial" << 11 << 3 << "" << 3
        << "Ethernet: differs!";
    QTest::newRow("the VPN's adapter changed since")
        << QStringList{"vpn", "tap changed"} << "partial" << 11 << 3 << "" << 3
        << "Local Area Connection: differs";
    QTest::newRow("dns.dat garbled, its copy read")
        << QStringList{"vpn", "garble"} << "switched" << 10 << 3 << "" << 4 << "";
    QTest::newRow("its copy untrusted, dns.dat read")
        << QStringList{"vpn | fail name= Wi-Fi static", "untrusted copy"} << "partial" << 11 << 3
        << "" << 3 << "Wi-Fi: differs!";
    QTest::newRow("unplugged adapter") << QStringList{"vpn", "unplug"} << "partial" << 11 << 3
                                       << sample::ethernet + ": not listed" << 3 << notListed;
}

void TestStatus::answersTheStateAndChangesNothing()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, state);
    QFETCH(int, exitCode);
    QFETCH(int, switched);
    QFETCH(QString, leftOut);
    QFETCH(int, onVpn);
    QFETCH(QString, causes);
    if (steps.contains(QStringLiteral("unplug")))
        SIMULATED_MACHINE_ONLY("the adapter is unplugged in the simulated registry's files");
    const bool untrusted = steps.contains(QStringLiteral("untrusted copy"));
    if (untrusted)
        SIMULATED_MACHINE_ONLY("Wine keeps no owners");

    TestMachine machine;
    QVERIFY(machine.isValid());
    for (const QString &step : qAsConst(steps))
        apply(machine, step);
    const QString before = snapshot(machine);
    machine.clearJournal();

    const TestMachine::Run json = machine.runTool({"status", "--json"});
    const TestMachine::Run text = machine.runTool({"status"});
    QCOMPARE(json.exitCode, exitCode);
    QCOMPARE(snapshot(machine), before);
    QCOMPARE(machine.journal().filter(QRegularExpression("^(?!wmic\t)")), QStringList());
    const bool garbled = steps.contains("garble");
    QCOMPARE(json.standardError.isEmpty(), (leftOut.isEmpty() || steps.contains("unplug")) &&
                                               !garbled && !untrusted &&
                                               !steps.contains("unparsed"));

    const QJsonObject answer = QJsonDocument::fromJson(json.standardOutput).object();
    QCOMPARE(answer.value("state").toString(), state);
    QCOMPARE(answer.value("version").toString(), QStringLiteral("1.0.0"));
    QCOMPARE(answer.value("warnings").toArray().size(), json.standardError.count('\n'));
    QCOMPARE(text.standardOutput.count(", on VPN servers"), onVpn);
    QCOMPARE(answer.value("reason").toString().contains("using its copy"), garbled);
    QCOMPARE(answer.value("reason").toString().contains("is not ours"), untrusted);
    QVERIFY(text.standardOutput.startsWith(state.toUtf8() + ", VPN servers: "));
    const bool recorded = state != "none";
    QCOMPARE(answer.value("vpnIpv4").toString(), recorded ? sample::vpnIpv4 : QString());
    QCOMPARE(answer.value("vpnIpv6").toString(), recorded ? sample::vpnIpv6 : QString());
    const bool saved = !steps.filter(QRegularExpression("^vpn")).isEmpty();
    const QJsonArray interfaces = answer.value("interfaces").toArray();
    QCOMPARE(interfaces.size(), 4);
    QCOMPARE(answer.value("schemaVersion").toInt(), 3);
    QStringList leftOuts;
    QStringList causesFound;
    for (const QJsonValue &value : interfaces) {
        const QJsonObject interface = value.toObject();
        const QString name = interface.value("name").toString();
        QVERIFY(text.standardOutput.contains(QStringLiteral(" '%1' ").arg(name).toUtf8()));
        QCOMPARE(interface.value("vpnAdapter").toBool(), name == "Local Area Connection");
        switched -= interface.value("switched").toBool() ? 1 : 0;
        onVpn -= interface.value("onVpnServers").toBool() ? 1 : 0;
        QCOMPARE(interface.value("serversRead").toBool(), interface.value("leftOut").isNull());
        QCOMPARE(interface.value("savedIpv4").isArray(), saved);
        QCOMPARE(interface.value("savedIpv6").isNull(), !saved);
        if (!interface.value("leftOut").isNull())
            leftOuts.append(name + ": " + interface.value("leftOut").toString());
        if (!interface.value("cause").isNull())
            causesFound.append(name + ": " + interface.value("cause").toString() +
                               (interface.value("possibleLeak").toBool() ? "!" : ""));
        else
            QVERIFY(!interface.value("possibleLeak").toBool());
    }
    QCOMPARE(leftOuts.join("; "), leftOut);
    QCOMPARE(causesFound.join("; "), causes);
    QCOMPARE(switched, 0);
    QCOMPARE(onVpn, 0);
    if (steps.contains(QStringLiteral("unicode name")))
        QVERIFY(text.standardOutput.contains(unicodeName.toUtf8()));
    if (steps == QStringList{"unicode name"})
        QVERIFY(!QFileInfo::exists(machine.vendorFolder()));
}

void TestStatus::unknownSaysWhy_data()
{
    // The cause, made so, is the start of the reason given; none: words after status.
    QTest::addColumn<QString>("reason");
    QTest::newRow("not elevated") << "not elevated";
    QTest::newRow("data file cannot be read") << "the data file cannot be read";
    QTest::newRow("no adapter lister") << "no adapter lister answered";
    QTest::newRow("words after status") << "";
}

void TestStatus::unknownSaysWhy()
{
    QFETCH(QString, reason);
    SIMULATED_MACHINE_ONLY("the causes are made as another user, a folder for a file or a failing "
                           "GetAdaptersAddresses (wineListsTheHostsAdapters)");
    TestMachine machine;
    QVERIFY(machine.isValid());
    machine.runTool(sample::vpnArguments());
    if (reason.contains("data file")) {
        QVERIFY(QFile::remove(machine.dataFilePath()));
        QVERIFY(QDir().mkdir(machine.dataFilePath()));
    }
    for (const char *lister : {"wmic", "iphlpapi"})
        machine.setFaults(lister, {reason.contains("lister") ? "fail" : ""});
    const QString before = snapshot(machine);

    QProcess tool;
    tool.setProcessEnvironment(machine.environment());
    const QStringList user = reason == "not elevated"
                                 ? QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"}
                                 : QStringList{"--reuid=0"};
    tool.start("setpriv", user + QStringList{TestMachine::toolPath(), "status",
                                             reason.isEmpty() ? "x" : "--json"});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(snapshot(machine), before);
    if (reason.isEmpty()) {
        QCOMPARE(tool.exitCode(), 255);
        QVERIFY(tool.readAllStandardError().startsWith("usage: tarnwick-dns"));
        return;
    }
    const QJsonObject answer = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
    QCOMPARE(tool.exitCode(), 12);
    QCOMPARE(answer.value("state").toString(), QStringLiteral("unknown"));
    QVERIFY(answer.value("reason").toString().startsWith(reason));
}

QTEST_GUILESS_MAIN(TestStatus)
#include "test_status.moc"
