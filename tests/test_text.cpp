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

QTEST_GUILESS_MAIN(TestText)
#include "test_text.moc"
