#include "utils/text.h"

#include <QtTest>

class TestText : public QObject
{
    Q_OBJECT

private slots:
    void classifiesAddresses_data();
    void classifiesAddresses();
    void joinNonEmpty_data();
    void joinNonEmpty();
    void acceptsOnlyPlainAddresses_data();
    void acceptsOnlyPlainAddresses();
    void writesOneFormPerAddress_data();
    void writesOneFormPerAddress();
    void boundsTextForTheLog_data();
    void boundsTextForTheLog();
};

void TestText::classifiesAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ipv4");
    QTest::addColumn<bool>("ipv6");

    QTest::newRow("ipv4") << "172.16.0.1" << true << false;
    QTest::newRow("ipv6") << "fd00:dead:beef:cafe::1" << false << true;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("host name") << "dns.example" << false << false;
    QTest::newRow("ipv4 with a fifth part") << "172.16.0.1.5" << false << false;
    // QHostAddress simplifies what it is given, so padded addresses pass:
    // whoever stores them must trim them.
    QTest::newRow("ipv4 with blanks around") << " 172.16.0.1 " << true << false;
    QTest::newRow("ipv6 with blanks around") << "  2001:db8::1" << false << true;
    QTest::newRow("two addresses") << "172.16.0.1 172.16.0.2" << false << false;
}

void TestText::classifiesAddresses()
{
    QFETCH(QString, text);
    QFETCH(bool, ipv4);
    QFETCH(bool, ipv6);
    QCOMPARE(isIPv4(text), ipv4);
    QCOMPARE(isIPv6(text), ipv6);
}

void TestText::joinNonEmpty_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("joined");

    QTest::newRow("blank entries dropped, others kept as they are")
        << QStringList{"a", "", "  ", "b "} << "a,b ";
    QTest::newRow("empty list") << QStringList{} << "";
    QTest::newRow("only blanks") << QStringList{" ", "\t", ""} << "";
    QTest::newRow("single") << QStringList{"x"} << "x";
}

void TestText::joinNonEmpty()
{
    QFETCH(QStringList, list);
    QFETCH(QString, joined);
    QCOMPARE(::joinNonEmpty(list, QStringLiteral(",")), joined);
}

void TestText::acceptsOnlyPlainAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("plain");

    QTest::newRow("ipv4") << "172.16.0.1" << true;
    QTest::newRow("ipv4 zeros") << "0.0.0.0" << true;
    QTest::newRow("ipv4 top") << "255.255.255.255" << true;
    QTest::newRow("ipv6 compressed") << "fd00:dead:beef:cafe::1" << true;
    QTest::newRow("ipv6 full, upper case") << "2001:DB8:0:0:0:0:0:1" << true;
    QTest::newRow("ipv6 four-digit zero groups") << "0000:0000::0001" << true;
    QTest::newRow("ipv6 unspecified") << "::" << true;
    QTest::newRow("ipv6 gap at the end") << "1:2:3:4:5:6:7::" << true;
    QTest::newRow("ipv6 with ipv4 tail") << "::ffff:192.0.2.1" << true;
    QTest::newRow("ipv6 eight groups, ipv4 tail") << "1:2:3:4:5:6:192.0.2.1" << true;

    // Forms QHostAddress takes that are not plain.
    QTest::newRow("one number") << "1" << false;
    QTest::newRow("two parts") << "127.1" << false;
    QTest::newRow("leading zeros") << "01.02.03.04" << false;
    QTest::newRow("octal-looking") << "010.0.0.1" << false;
    QTest::newRow("hex part") << "0x7f.1" << false;
    QTest::newRow("32-bit number") << "4294967295" << false;
    QTest::newRow("octet past 255") << "1.2.3.256" << false;
    QTest::newRow("trailing dot") << "1.2.3.4." << false;
    QTest::newRow("scope id") << "fd00::1%eth0" << false;
    QTest::newRow("scope id carrying netsh words") << "fd00::1%x\" static 6.6.6.6 primary" << false;
    QTest::newRow("scope id with shell text") << "fd00::1%$(id)&`x`" << false;
    QTest::newRow("scope id with a newline") << "fd00::1%x\n6.6.6.6" << false;
    QTest::newRow("brackets") << "[fd00::1]" << false;
    QTest::newRow("blanks around") << " 172.16.0.1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("two gaps") << "1::2::3" << false;
    QTest::newRow("triple colon") << "1:::2" << false;
    QTest::newRow("gap standing for nothing") << "1:2:3:4:5:6:7:8::" << false;
    QTest::newRow("nine groups") << "1:2:3:4:5:6:7:8:9" << false;
    QTest::newRow("seven groups") << "1:2:3:4:5:6:7" << false;
    QTest::newRow("five hex digits") << "12345::1" << false;
    QTest::newRow("leading single colon") << ":1::2" << false;
    QTest::newRow("ipv4 tail not last") << "::192.0.2.1:1" << false;
    QTest::newRow("ipv4 form before a gap") << "192.0.2.1::" << false;
    QTest::newRow("ipv4 form before a trailing gap") << "1:192.0.2.1::" << false;
    QTest::newRow("ipv4 tail with leading zero") << "::ffff:01.2.3.4" << false;
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661.1.1.1") << false;
}

void TestText::acceptsOnlyPlainAddresses()
{
    QFETCH(QString, text);
    QFETCH(bool, plain);
    QCOMPARE(isPlainAddress(text), plain);
    // A plain address is always one QHostAddress reads the same way.
    if (plain)
        QVERIFY(isIPv4(text) != isIPv6(text));
}

void TestText::writesOneFormPerAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical");

    QTest::newRow("long upper-case form") << "2001:0DB8:0000:0000:0000:0000:0000:0053"
                                          << "2001:db8::53";
    QTest::newRow("zeros partly compressed") << "FD00:0:0::53"
                                             << "fd00::53";
    QTest::newRow("one zero group stays") << "2001:db8:0:1:1:1:1:1"
                                          << "2001:db8:0:1:1:1:1:1";
    QTest::newRow("longest zero run") << "2001:0:0:1:0:0:0:1"
                                      << "2001:0:0:1::1";
    QTest::newRow("first of equal runs") << "2001:db8:0:0:1:0:0:1"
                                         << "2001:db8::1:0:0:1";
    QTest::newRow("all zeros") << "0:0:0:0:0:0:0:0"
                               << "::";
    QTest::newRow("zeros at the end") << "fd00:0:0:0:0:0:0:0"
                                      << "fd00::";
    QTest::newRow("IPv4-mapped") << "::FFFF:C000:0201"
                                 << "::ffff:192.0.2.1";
    QTest::newRow("IPv4 tail, not mapped") << "::192.0.2.1"
                                           << "::c000:201";
    QTest::newRow("already canonical") << "fd00:dead:beef:cafe::1"
                                       << "fd00:dead:beef:cafe::1";
    QTest::newRow("IPv4 as it is") << "192.0.2.1"
                                   << "192.0.2.1";
    QTest::newRow("no address, as it is") << "FD00::1%eth0"
                                          << "FD00::1%eth0";
}

void TestText::writesOneFormPerAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QCOMPARE(canonicalAddress(text), canonical);
}

void TestText::boundsTextForTheLog_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged");

    QTest::newRow("short") << "{A}@1.1.1.1"
                           << "{A}@1.1.1.1";
    QTest::newRow("at the bound") << QString(256, 'x') << QString(256, 'x');
    QTest::newRow("past the bound")
        << QString(131072, 'x') << QString(256, 'x') + "... (131072 characters)";
    QTest::newRow("placeholder in the text")
        << "%1" + QString(300, 'x') << "%1" + QString(254, 'x') + "... (302 characters)";
}

void TestText::boundsTextForTheLog()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    QCOMPARE(boundedForLog(text), logged);
}

QTEST_GUILESS_MAIN(TestText)
#include "test_text.moc"
