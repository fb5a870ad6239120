#include "dns/adapterlist.h"
#include "dns/netshcommand.h"
#include "dns/servers.h"

#include <QtTest>

// The pure pieces of the DNS manager: adapter listings, server texts,
// interface entries and netsh argument lists.
class TestServers : public QObject
{
    Q_OBJECT

private slots:
    void parsesAdapterGuids_data();
    void parsesAdapterGuids();
    void splitsNameServerValues_data();
    void splitsNameServerValues();
    void keepsOnlyPlainAddressesOfTheStack_data();
    void keepsOnlyPlainAddressesOfTheStack();
    void splitsAndJoinsServersTexts_data();
    void splitsAndJoinsServersTexts();
    void formatsInterfaceEntries_data();
    void formatsInterfaceEntries();
    void buildsNetshArguments_data();
    void buildsNetshArguments();
    void recognisesVpnServers_data();
    void recognisesVpnServers();
    void singleServerListOfAnEmptyAddressIsEmpty();
};

void TestServers::parsesAdapterGuids_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("guids");

    QTest::newRow("wmic with heading, padding, CR CR LF and blank line")
        << QByteArray("GUID                                    \r\r\n"
                      "{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E01}  \r\r\n"
                      "{6f1c2a10-8b3e-4c55-9d21-0a1b2c3d4e03}  \r\r\n\r\r\n")
        << QStringList{"{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E01}",
                       "{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E03}"};
    QTest::newRow("lines ending in CR LF")
        << QByteArray("{A}\r\n{B}\r\n") << QStringList{"{A}", "{B}"};
    QTest::newRow("reported twice") << QByteArray("{A}\n{a}\n") << QStringList{"{A}"};
    QTest::newRow("text up to the first NUL")
        << QByteArray("{A}\n\0{B}\n", 9) << QStringList{"{A}"};
    QTest::newRow("lines not starting with a brace")
        << QByteArray("GUID\nx{C}\n  {D}\n") << QStringList{"{D}"};
    QTest::newRow("nothing") << QByteArray() << QStringList{};
    const QByteArray utf16("G\0U\0I\0D\0\r\0\n\0{\0A\0}\0\r\0\n\0\0\0{\0B\0}\0", 30);
    QTest::newRow("UTF-16LE up to the first NUL") << utf16 << QStringList{"{A}"};
}

void TestServers::parsesAdapterGuids()
{
    QFETCH(QByteArray, output);
    QFETCH(QStringList, guids);
    QStringList parsed = parseAdapterGuids(output).values();
    parsed.sort();
    QCOMPARE(parsed, guids);
}

void TestServers::splitsNameServerValues_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("servers");

    QTest::newRow("commas") << "192.0.2.1,192.0.2.2" << QStringList{"192.0.2.1", "192.0.2.2"};
    QTest::newRow("blanks") << "1.1.1.1 8.8.8.8" << QStringList{"1.1.1.1", "8.8.8.8"};
    QTest::newRow("doubled commas") << "1.1.1.1,,8.8.8.8" << QStringList{"1.1.1.1", "8.8.8.8"};
    QTest::newRow("mixed with padding")
        << " 1.1.1.1 , 8.8.8.8\t" << QStringList{"1.1.1.1", "8.8.8.8"};
    QTest::newRow("empty") << "" << QStringList{};
}

void TestServers::splitsNameServerValues()
{
    QFETCH(QString, value);
    QFETCH(QStringList, servers);
    QCOMPARE(splitNameServerValue(value), servers);
}

void TestServers::keepsOnlyPlainAddressesOfTheStack_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("ipv4");
    QTest::addColumn<QStringList>("servers");
    QTest::addColumn<QStringList>("rejected");
    QTest::addColumn<int>("ignored");

    QTest::newRow("plain ipv4") << "192.0.2.53 192.0.2.54" << true
                                << QStringList{"192.0.2.53", "192.0.2.54"} << QStringList{} << 0;
    QTest::newRow("forged entry of another interface")
        << "192.0.2.53;{ETH2-ID}@6.6.6.6,2001:db8::66" << true << QStringList{}
        << QStringList{"192.0.2.53;{ETH2-ID}@6.6.6.6", "2001:db8::66"} << 0;
    QTest::newRow("entry separator and a letter")
        << ";l" << false << QStringList{} << QStringList{";l"} << 0;
    QTest::newRow("other protocol and non-plain forms left out")
        << "2001:db8::53,192.0.2.1,fd00::1%1,[::1]" << false << QStringList{"2001:db8::53"}
        << QStringList{"192.0.2.1", "fd00::1%1", "[::1]"} << 0;
    QStringList many;
    for (int i = 1; i <= 20; ++i)
        many.append(QStringLiteral("192.0.2.%1").arg(i));
    QTest::newRow("past the bound")
        << many.join(',') << true << QStringList(many.mid(0, maxServersPerProtocol))
        << QStringList{} << 20 - maxServersPerProtocol;
}

void TestServers::keepsOnlyPlainAddressesOfTheStack()
{
    QFETCH(QString, value);
    QFETCH(bool, ipv4);
    QFETCH(QStringList, servers);
    QFETCH(QStringList, rejected);
    QFETCH(int, ignored);

    const NameServerList list = parseNameServerValue(value, ipv4);
    QCOMPARE(list.servers, servers);
    QCOMPARE(list.rejected, rejected);
    QCOMPARE(list.ignored, ignored);
}

void TestServers::splitsAndJoinsServersTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("two") << "a,b" << QStringList{"a", "b"};
    QTest::newRow("empty middle kept") << "a,,b" << QStringList{"a", "", "b"};
    QTest::newRow("blanks kept") << " a" << QStringList{" a"};
    QTest::newRow("empty text is one empty entry") << "" << QStringList{""};
}

void TestServers::splitsAndJoinsServersTexts()
{
    QFETCH(QString, text);
    QFETCH(QStringList, entries);
    QCOMPARE(splitServers(text), entries);
    QCOMPARE(joinServers(entries), text);
}

void TestServers::formatsInterfaceEntries_data()
{
    QTest::addColumn<QStringList>("ipv4");
    QTest::addColumn<QStringList>("ipv6");
    QTest::addColumn<QString>("entry");

    QTest::newRow("ipv4 only") << QStringList{"a", "b"} << QStringList{} << "{ID}@a,b";
    QTest::newRow("ipv6 only, no leading comma") << QStringList{} << QStringList{"c"} << "{ID}@c";
    QTest::newRow("both, ipv4 first") << QStringList{"a", "b"} << QStringList{"c"} << "{ID}@a,b,c";
    QTest::newRow("none") << QStringList{} << QStringList{} << "{ID}@";
}

void TestServers::formatsInterfaceEntries()
{
    QFETCH(QStringList, ipv4);
    QFETCH(QStringList, ipv6);
    QFETCH(QString, entry);
    QCOMPARE(interfaceEntry(QStringLiteral("{ID}"), ipv4, ipv6), entry);
}

void TestServers::buildsNetshArguments_data()
{
    QTest::addColumn<bool>("ipv4");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("position");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("set ipv4") << true << "Ethernet 2"
                              << "192.0.2.1" << 0
                              << QStringList{"interface", "ipv4",       "set",    "dns",
                                             "name=",     "Ethernet 2", "static", "192.0.2.1",
                                             "primary",   "validate=no"};
    QTest::newRow("add ipv6 counts from one")
        << false << "Wi-Fi"
        << "2001:db8::1" << 1 << QStringList{"interface", "ipv6",  "add",         "dns",
                                             "name=",     "Wi-Fi", "2001:db8::1", "index=2"};
    QTest::newRow("empty name and address passed as they are")
        << true << ""
        << "" << 2 << QStringList{"interface", "ipv4", "add", "dns", "name=", "", "", "index=3"};
}

void TestServers::buildsNetshArguments()
{
    QFETCH(bool, ipv4);
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(int, position);
    QFETCH(QStringList, arguments);
    QCOMPARE(netshDnsArguments(ipv4, name, address, position), arguments);
}

void TestServers::recognisesVpnServers_data()
{
    QTest::addColumn<QStringList>("servers");
    QTest::addColumn<bool>("vpn");

    QTest::newRow("ipv4 default among others: the user's own")
        << QStringList{"1.1.1.1", "172.16.0.1"} << false;
    QTest::newRow("ipv4 default alone") << QStringList{"172.16.0.1"} << true;
    QTest::newRow("ipv6 default alone") << QStringList{"fd00:dead:beef:cafe::1"} << true;
    QTest::newRow("ipv6 default repeated")
        << QStringList{"fd00:dead:beef:cafe::1", "fd00:dead:beef:cafe::1"} << false;
    QTest::newRow("with a trailing blank") << QStringList{"172.16.0.1 "} << false;
    QTest::newRow("other spelling of the address")
        << QStringList{"fd00:dead:beef:cafe:0::1"} << false;
    QTest::newRow("empty") << QStringList{} << false;
}

void TestServers::recognisesVpnServers()
{
    QFETCH(QStringList, servers);
    QFETCH(bool, vpn);
    QCOMPARE(isLoneVpnDefault(servers), vpn);
}

void TestServers::singleServerListOfAnEmptyAddressIsEmpty()
{
    // So the VPN plan's request for a protocol without an address is "".
    QCOMPARE(joinServers(singleServerList(QString())), QString());
    QCOMPARE(singleServerList(QString()), QStringList());
    QCOMPARE(singleServerList(QStringLiteral("172.16.0.1")), QStringList{"172.16.0.1"});
}

QTEST_GUILESS_MAIN(TestServers)
#include "test_servers.moc"
