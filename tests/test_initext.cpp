#include "inireference.h"
#include "store/initext.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The data file's INI text against QSettings, which earlier versions of the
// tool read and wrote it with: each must read what the other writes, and the
// tool must read any text as QSettings does (keys compared in lower case:
// Debian's QSettings minds letter case, Windows' does not).
class TestIniText : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsWithQSettings_data();
    void roundTripsWithQSettings();
    void readsAsQSettings_data();
    void readsAsQSettings();
    void readsRandomTextAsQSettings();

private:
    QString difference(const QByteArray &text);

    QTemporaryDir directory;
    int files = 0;
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
    QTest::newRow("ends in a TAB") << "{A}@\t";
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
    QCOMPARE(ini.damage, QString());
    QCOMPARE(ini.text("UserDns/Args"), value);
    QCOMPARE(parseIniText(formatIniText({{"UserDns/Args", value}})).text("UserDns/Args"), value);
}

QString TestIniText::difference(const QByteArray &text)
{
    QFile file(directory.filePath(QString::number(++files) + ".ini"));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QStringLiteral("cannot write %1").arg(file.fileName());
    file.close();
    return iniDifference(parseIniText(text), qsettingsValues(file.fileName()), text);
}

// Hand edits, other editors' saves and damage; "whole" says whether the
// tool takes the file as a record or falls back on its copy.
void TestIniText::readsAsQSettings_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("args");
    QTest::addColumn<bool>("whole");

    QTest::newRow("byte order mark")
        << QByteArray("\xef\xbb\xbf[UserDns]\r\nArgs=\"{A}@1.1.1.1\"\r\n") << "{A}@1.1.1.1" << true;
    QTest::newRow("comment after a group line")
        << QByteArray("[VpnDns] ; connected\n[UserDns] ; 09:30\nArgs={A}@\n") << "{A}@" << true;
    QTest::newRow("letter case") << QByteArray("[userdns]\nARGS={A}@\n") << "{A}@" << true;
    QTest::newRow("% escapes in a key")
        << QByteArray("[User%44ns]\nA%U0072gs={A}@\n") << "{A}@" << true;
    QTest::newRow("comment after a quoted value")
        << QByteArray("[UserDns]\nArgs=\"{A}@;{B}@\" ; by hand\n") << "{A}@;{B}@" << true;
    QTest::newRow("\\x without digits")
        << QByteArray("[UserDns]\nArgs={A}@\\xg\n") << "{A}@g" << true;
    QTest::newRow("lone trailing \\, cut short")
        << QByteArray("[UserDns]\nArgs={A}@ \\") << "{A}@ " << false;
    QTest::newRow("\\ continues a line")
        << QByteArray("[UserDns]\nArgs={A}@\\\r\n1.1.1.1\n") << "{A}@1.1.1.1" << true;
    QTest::newRow("unquoted ; starts a comment")
        << QByteArray("[UserDns]\nArgs={A}@1.1.1.1;{B}@\n") << "{A}@1.1.1.1" << true;
    QTest::newRow("unquoted , makes a list")
        << QByteArray("[UserDns]\nArgs={A}@1.1.1.1,2.2.2.2\n") << "" << false;
    QTest::newRow("another type") << QByteArray("[UserDns]\nArgs=@Size(1 2)\n") << "" << false;
    QTest::newRow("a line that is no INI line")
        << QByteArray("[UserDns]\nArgs=\"{A}@\"\ngarbage\n") << "{A}@" << false;
    QTest::newRow("UTF-16") << QByteArray("\xff\xfe[\0U\0]\0\n\0", 10) << "" << false;
    QTest::newRow("Latin-1 bytes")
        << QByteArray("[UserDns]\nArgs=caf\xe9\n") << "caf\u00e9" << false;
}

void TestIniText::readsAsQSettings()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, args);
    QFETCH(bool, whole);

    QCOMPARE(difference(text), QString());
    const IniText ini = parseIniText(text);
    QCOMPARE(ini.text("UserDns/Args"), args);
    QCOMPARE(ini.isWhole(), whole);
}

void TestIniText::readsRandomTextAsQSettings()
{
    QRandomGenerator random(20261208);
    const auto pick = [&random](int n) {
        return int(random.bounded(n));
    };
    for (int i = 0; i < 3000; ++i) {
        const QByteArray text = iniLikeText(pick, 1 + pick(6));
        const QString found = difference(text);
        if (!found.isEmpty())
            QFAIL(qPrintable(found + QStringLiteral("\nin: ") + QString::fromLatin1(text.toHex())));
    }
}

QTEST_GUILESS_MAIN(TestIniText)
#include "test_initext.moc"
