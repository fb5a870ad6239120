#include "inireference.h"
#include "store/initext.h"
#include "testmachine.h"
#include "wineprefix.h"

#include <QJsonDocument>
#include <QJsonObject>
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
    void readsHandEdits_data();
    void readsHandEdits();
    void readsRandomTextAsQSettings();

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

namespace {

struct HandEdit
{
    const char *name;
    QByteArray text;
    QString args;
    bool whole; // the tool takes the file as a record, else its copy
};

// Hand edits, other editors' saves and damage; readsRandomTextAsQSettings
// compares them with QSettings.
const QList<HandEdit> handEdits = {
    {"byte order mark", "\xef\xbb\xbf[UserDns]\r\nArgs=\"{A}@1.1.1.1\"\r\n", "{A}@1.1.1.1", true},
    {"comment after a group line", "[VpnDns] ; connected\n[UserDns] ; 09:30\nArgs={A}@\n", "{A}@",
     true},
    {"letter case", "[userdns]\nARGS={A}@\n", "{A}@", true},
    {"% escapes in a key", "[User%44ns]\nA%U0072gs={A}@\n", "{A}@", true},
    {"comment after a quoted value", "[UserDns]\nArgs=\"{A}@;{B}@\" ; by hand\n", "{A}@;{B}@",
     true},
    {"\\x without digits", "[UserDns]\nArgs={A}@\\xg\n", "{A}@g", true},
    {"lone trailing \\, cut short", "[UserDns]\nArgs={A}@ \\", "{A}@ ", false},
    {"\\ continues a line", "[UserDns]\nArgs={A}@\\\r\n1.1.1.1\n", "{A}@1.1.1.1", true},
    {"unquoted ; starts a comment", "[UserDns]\nArgs={A}@1.1.1.1;{B}@\n", "{A}@1.1.1.1", true},
    {"unquoted , makes a list", "[UserDns]\nArgs={A}@1.1.1.1,2.2.2.2\n", "", false},
    {"another type", "[UserDns]\nArgs=@Size(1 2)\n", "", false},
    {"cut inside quotes, a line saved after",
     "[UserDns]\r\nArgs=\"{A}@1.1.1.1;{B}@192.0.2.5\r\n; end\r\n",
     "{A}@1.1.1.1;{B}@192.0.2.5\r\n; end\r\n", false},
    {"a line that is no INI line", "[UserDns]\nArgs=\"{A}@\"\ngarbage\n", "{A}@", false},
    {"UTF-16", QByteArray("\xff\xfe[\0U\0]\0\n\0", 10), "", false},
    {"Latin-1 bytes", "[UserDns]\nArgs=caf\xe9\n", "caf\u00e9", false}};

} // namespace

void TestIniText::readsHandEdits_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("args");
    QTest::addColumn<bool>("whole");
    for (const HandEdit &edit : handEdits)
        QTest::newRow(edit.name) << edit.text << edit.args << edit.whole;
}

void TestIniText::readsHandEdits()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, args);
    QFETCH(bool, whole);

    const IniText ini = parseIniText(text);
    QCOMPARE(ini.text("UserDns/Args"), args);
    QCOMPARE(ini.isWhole(), whole);
}

// The hand edits and random text against Debian's QSettings or, on the
// Windows machine under Wine, the Windows build's, which ignores letter case.
void TestIniText::readsRandomTextAsQSettings()
{
    TestMachine machine;
    QRandomGenerator random(20261208);
    const auto pick = [&random](int n) {
        return int(random.bounded(n));
    };
    QList<QByteArray> texts;
    for (const HandEdit &edit : handEdits)
        texts.append(edit.text);
    while (texts.size() < 1000)
        texts.append(iniLikeText(pick, 1 + pick(6)));
    QTemporaryDir folder;
    QHash<int, QList<ReferenceValue>> read;
    for (int i = 0; i < texts.size(); ++i) {
        QFile file(folder.filePath(QString::number(i)));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(texts.at(i)) == texts.at(i).size());
        file.close();
        if (!machine.isWindows())
            read.insert(i, qsettingsValues(file.fileName()));
    }
    const TestMachine::Run run = machine.isWindows()
                                     ? machine.runInWine({TARNWICK_WINDOWS_QSETTINGS,
                                                          WinePrefix::windowsPath(folder.path())})
                                     : TestMachine::Run();
    QCOMPARE(run.exitCode, machine.isWindows() ? 0 : -1);
    for (const QByteArray &line : run.standardOutput.split('\n')) {
        const QJsonObject values =
            QJsonDocument::fromJson(line.mid(line.indexOf('\t') + 1)).object();
        for (auto value = values.begin(); value != values.end(); ++value)
            read[line.left(line.indexOf('\t')).toInt()].append(
                {value.key(), value->isString(), value->toString()});
    }
    for (int i = 0; i < texts.size(); ++i) {
        const QString found = iniDifference(parseIniText(texts.at(i)), read.value(i), texts.at(i));
        QVERIFY2(found.isEmpty(), qPrintable(found + "\nin: " + texts.at(i).toHex()));
    }
}

QTEST_GUILESS_MAIN(TestIniText)
#include "test_initext.moc"
