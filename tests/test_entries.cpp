#include "dns/entries.h"

#include <QtTest>

class TestEntries : public QObject
{
    Q_OBJECT

private slots:
    void parsesInterfaceEntries_data();
    void parsesInterfaceEntries();
    void readsOnlyTheFirstItemsOfAnEntry();
    void argsForLogAreBounded();
    void parsesSavedArgs_data();
    void parsesSavedArgs();
    void keepsSavedEntries_data();
    void keepsSavedEntries();
};

void TestEntries::parsesInterfaceEntries_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QStringList>("ipv4");
    QTest::addColumn<QStringList>("ipv6");
    QTest::addColumn<QStringList>("rejected");

    QTest::newRow("both protocols mixed") << "{A}@fd00::1,172.16.0.1,172.16.0.2"
                                          << "{A}" << QStringList{"172.16.0.1", "172.16.0.2"}
                                          << QStringList{"fd00::1"} << QStringList{};
    QTest::newRow("no @") << "{A}"
                          << "{A}" << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("two @ reject all after the first")
        << "{A}@1.1.1.1@2.2.2.2"
        << "{A}" << QStringList{} << QStringList{} << QStringList{"1.1.1.1@2.2.2.2"};
    QTest::newRow("nothing after @") << "{A}@"
                                     << "{A}" << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("single item, not an address, rejected")
        << "{A}@ 10.8.0.l "
        << "{A}" << QStringList{} << QStringList{} << QStringList{"10.8.0.l"};
    QTest::newRow("blank after @") << "{A}@  "
                                   << "{A}" << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("single address simplified")
        << "{A}@  1.1.1.1 "
        << "{A}" << QStringList{"1.1.1.1"} << QStringList{} << QStringList{};
    QTest::newRow("trailing comma rejects an empty item")
        << "{A}@1.1.1.1,"
        << "{A}" << QStringList{"1.1.1.1"} << QStringList{} << QStringList{""};
    QTest::newRow("padded items in a list are stored trimmed")
        << "{A}@ 1.1.1.1 , fd00::1 "
        << "{A}" << QStringList{"1.1.1.1"} << QStringList{"fd00::1"} << QStringList{};
    QTest::newRow("bad items rejected as written")
        << "{A}@1.1.1.1,x y,,2.2.2.2"
        << "{A}" << QStringList{"1.1.1.1", "2.2.2.2"} << QStringList{} << QStringList{"x y", ""};
    QTest::newRow("items QHostAddress reads but not plain are rejected")
        << "{A}@127.1,1.1.1.1,010.0.0.1,fd00::1%eth0,4294967295"
        << "{A}" << QStringList{"1.1.1.1"} << QStringList{}
        << QStringList{"127.1", "010.0.0.1", "fd00::1%eth0", "4294967295"};
    QTest::newRow("single scope id with netsh words rejected")
        << "{A}@fd00::1%x\" static 6.6.6.6 primary"
        << "{A}" << QStringList{} << QStringList{}
        << QStringList{"fd00::1%x\" static 6.6.6.6 primary"};
    QTest::newRow("single short ipv4 rejected")
        << "{A}@ 0x7f.1 "
        << "{A}" << QStringList{} << QStringList{} << QStringList{"0x7f.1"};
    QTest::newRow("empty word") << ""
                                << "" << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("a repeated server counts once, at its first place")
        << "{A}@192.0.2.53,2001:db8::53,192.0.2.54,192.0.2.53,2001:DB8:0:0:0:0:0:53"
        << "{A}" << QStringList{"192.0.2.53", "192.0.2.54"} << QStringList{"2001:db8::53"}
        << QStringList{};
}

void TestEntries::parsesInterfaceEntries()
{
    QFETCH(QString, word);
    QFETCH(QString, id);
    QFETCH(QStringList, ipv4);
    QFETCH(QStringList, ipv6);
    QFETCH(QStringList, rejected);

    const InterfaceEntry entry = parseInterfaceEntry(word);
    QCOMPARE(entry.id, id);
    QCOMPARE(entry.ipv4, ipv4);
    QCOMPARE(entry.ipv6, ipv6);
    QCOMPARE(entry.rejected, rejected);
}

void TestEntries::readsOnlyTheFirstItemsOfAnEntry()
{
    QStringList servers;
    for (int i = 0; i < 16000; ++i)
        servers.append(QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250));
    const InterfaceEntry entry = parseInterfaceEntry("{A}@" + servers.join(','));
    QCOMPARE(entry.ipv4, servers.mid(0, maxItemsPerEntry));
    QCOMPARE(entry.ignoredItems, 16000 - maxItemsPerEntry);
}

void TestEntries::argsForLogAreBounded()
{
    const QStringList args =
        QStringList{QString(300, 'x')} + QStringList(QVector<QString>(2000, "{A}@").toList());
    const QString logged = argsForLog(args);
    QVERIFY(logged.startsWith(QString(256, 'x') + "... (300 characters) {A}@ {A}@"));
    QCOMPARE(logged.count("{A}@"), maxEntriesPerRun - 1);
}

void TestEntries::parsesSavedArgs_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("clean") << "{A}@1.1.1.1;{B}@" << QStringList{"{A}@1.1.1.1", "{B}@"};
    QTest::newRow("empty segments and white space")
        << "  ;{A}@1.1.1.1;;\n{B}@;  " << QStringList{"{A}@1.1.1.1", "{B}@"};
    QTest::newRow("blank after a separator") << "{A}@; {B}@" << QStringList{"{A}@", "{B}@"};
    QTest::newRow("blank") << " \t " << QStringList{};
    QTest::newRow("missing") << "" << QStringList{};
}

void TestEntries::parsesSavedArgs()
{
    QFETCH(QString, value);
    QFETCH(QStringList, entries);
    QCOMPARE(parseSavedArgs(value, QStringLiteral(";")), entries);
}

void TestEntries::keepsSavedEntries_data()
{
    QTest::addColumn<QStringList>("saved");
    QTest::addColumn<QStringList>("current");
    QTest::addColumn<QStringList>("switched");
    QTest::addColumn<QStringList>("recorded");
    QTest::addColumn<QStringList>("unrecorded");

    QTest::newRow("not switched: recorded as it is, a VPN server among its own")
        << QStringList{"{A}@1.1.1.1"} << QStringList{"{A}@172.16.0.1,192.0.2.60"} << QStringList{}
        << QStringList{"{A}@172.16.0.1,192.0.2.60"} << QStringList{};
    QTest::newRow("per interface: one restored, one still switched")
        << QStringList{"{A}@1.1.1.1", "{B}@2.2.2.2"}
        << QStringList{"{A}@9.9.9.9", "{B}@2001:db8::1,fd00:dead:beef:cafe::1"}
        << QStringList{"{B}"} << QStringList{"{A}@9.9.9.9", "{B}@2.2.2.2"} << QStringList{};
    QTest::newRow("IDs matched ignoring letter case")
        << QStringList{"{a}@1.1.1.1", "{b}@2.2.2.2"} << QStringList{"{A}@172.16.0.1", "{B}@"}
        << QStringList{"{A}"} << QStringList{"{a}@1.1.1.1", "{B}@"} << QStringList{};
    QTest::newRow("interface gone, its saved entry kept, not whole as it was")
        << QStringList{"{A}@1.1.1.1", "{D}@8.8.8.8,x"} << QStringList{"{A}@172.16.0.1"}
        << QStringList{"{A}"} << QStringList{"{A}@1.1.1.1", "{D}@8.8.8.8,x"} << QStringList{};
    QTest::newRow("switched without a saved entry: its servers without the VPN's")
        << QStringList{} << QStringList{"{A}@10.8.0.1,192.0.2.7,fd00:dead:beef:cafe::1"}
        << QStringList{"{A}"} << QStringList{"{A}@192.0.2.7"} << QStringList{"{A}"};
    QTest::newRow("switched with a saved entry that is not whole")
        << QStringList{"{A}@192.0.2.300"} << QStringList{"{A}@10.8.0.1"} << QStringList{"{A}"}
        << QStringList{"{A}@"} << QStringList{"{A}"};
}

void TestEntries::keepsSavedEntries()
{
    QFETCH(QStringList, saved);
    QFETCH(QStringList, current);
    QFETCH(QStringList, switched);
    QFETCH(QStringList, recorded);
    QFETCH(QStringList, unrecorded);
    const auto entries = [](const QStringList &words) {
        QList<InterfaceEntry> parsed;
        for (const QString &word : words)
            parsed.append(parseInterfaceEntry(word));
        return parsed;
    };
    const QStringList vpnServers = {"172.16.0.1", "fd00:dead:beef:cafe::1", "10.8.0.1"};
    QStringList notRecorded;
    QStringList words;
    for (const InterfaceEntry &entry :
         entriesToRecord(entries(saved), entries(current), switched, vpnServers, &notRecorded))
        words.append(formatInterfaceEntry(entry));
    QCOMPARE(words, recorded);
    QCOMPARE(notRecorded, unrecorded);
}

QTEST_GUILESS_MAIN(TestEntries)
#include "test_entries.moc"
