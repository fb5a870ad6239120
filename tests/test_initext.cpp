#include "store/initext.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The data file's INI text against QSettings, which earlier versions of the
// tool read and wrote it with: each must read what the other writes.
class TestIniText : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsWithQSettings_data();
    void roundTripsWithQSettings();
    void keepsWhatAHandEditWrote_data();
    void keepsWhatAHandEditWrote();

private:
    QTemporaryDir directory;
};

void TestIniText::roundTripsWithQSettings_data()
{
    QTest::addColumn<QString>("value");

    QTest::newRow("entries with ; and ,") << "{A}@1.1.1.1,fd00::1;{B}@";
    QTest::newRow("empty") << "";
    QTest::newRow("= and quotes") << "a=\"b\"";
    QTest::newRow("backslashes and % escapes") << "C:\\dir\\%41%";
    QTest::newRow("blanks around") << "  padded ";
    QTest::newRow("line ends and tabs") << "one\r\ntwo\tthree";
    QTest::newRow("control and NUL before digits") << QString("\x01"
                                                              "1") +
                                                          QChar(0) + "7f";
    QTest::newRow("non-ASCII") << QString::fromUtf8("caf\xc3\xa9 \xe4\xb8\xad");
    QTest::newRow("starts with @") << "@Invalid()";
}

void TestIniText::roundTripsWithQSettings()
{
    QFETCH(QString, value);
    const QString path = directory.filePath(QString::fromLatin1(QTest::currentDataTag()));

    QFile file(path + ".ours");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(formatIniText({{"UserDns/Args", value}, {"VpnDns/IPv4", "10.8.0.1"}}));
    file.close();
    const QSettings reading(file.fileName(), QSettings::IniFormat);
    QCOMPARE(reading.status(), QSettings::NoError);
    QCOMPARE(reading.value("UserDns/Args").toString(), value);
    QCOMPARE(reading.value("VpnDns/IPv4").toString(), QStringLiteral("10.8.0.1"));

    {
        QSettings writing(path + ".qt", QSettings::IniFormat);
        writing.setValue("UserDns/Args", value);
    }
    QFile written(path + ".qt");
    QVERIFY(written.open(QIODevice::ReadOnly));
    const IniText ini = parseIniText(written.readAll());
    QCOMPARE(ini.firstBadLine, 0);
    QCOMPARE(ini.values.value("UserDns/Args"), value);
}

void TestIniText::keepsWhatAHandEditWrote_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("firstBadLine");

    QTest::newRow("unquoted: ; and , are part of the value")
        << QByteArray("[UserDns]\nArgs={A}@1.1.1.1,2.2.2.2;{B}@ \n") << "{A}@1.1.1.1,2.2.2.2;{B}@"
        << 0;
    QTest::newRow("comments and CR line ends")
        << QByteArray("; kept by hand\r[UserDns]\r\nArgs = \"{A}@\"\r") << "{A}@" << 0;
    QTest::newRow("a line that is no INI line")
        << QByteArray("[UserDns]\nArgs=\"{A}@\"\ngarbage\n[VpnDns\n") << "{A}@" << 3;
}

void TestIniText::keepsWhatAHandEditWrote()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, args);
    QFETCH(int, firstBadLine);

    const IniText ini = parseIniText(text);
    QCOMPARE(ini.values.value("UserDns/Args"), args);
    QCOMPARE(ini.firstBadLine, firstBadLine);
}

QTEST_GUILESS_MAIN(TestIniText)
#include "test_initext.moc"
