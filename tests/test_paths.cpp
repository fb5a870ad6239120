#include "messagecapture.h"
#include "store/vendorfolder.h"
#include "utils/paths.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

bool writeTo(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void findsProgramData_data();
    void findsProgramData();
    void dataFilePathInTheProgramDataLocation();
    void dataFilePathWithoutProgramData();
    void trustsOnlyAPlainVendorFolder_data();
    void trustsOnlyAPlainVendorFolder();
    void readsAndWritesOnlyTrustedFiles_data();
    void readsAndWritesOnlyTrustedFiles();
};

void TestPaths::findsProgramData_data()
{
    QTest::addColumn<QStringList>("locations");
    QTest::addColumn<QString>("folder");

    QTest::newRow("among others") << QStringList{"C:/Users/u/AppData/Local", "C:/ProgramData",
                                                 "C:/Tools"}
                                  << "C:/ProgramData";
    QTest::newRow("first of two wins")
        << QStringList{"D:/ProgramData", "C:/ProgramData"} << "D:/ProgramData";
    QTest::newRow("inside a longer name")
        << QStringList{"D:/OldProgramData/x"} << "D:/OldProgramData/x";
    QTest::newRow("separators kept") << QStringList{"C:\\ProgramData"} << "C:\\ProgramData";
    QTest::newRow("other letter case") << QStringList{"C:/programdata"} << "";
    QTest::newRow("no locations") << QStringList{} << "";
}

void TestPaths::findsProgramData()
{
    QFETCH(QStringList, locations);
    QFETCH(QString, folder);
    QCOMPARE(programDataIn(locations), folder);
}

void TestPaths::dataFilePathInTheProgramDataLocation()
{
    QTemporaryDir machine;
    const QString programData = machine.path() + QStringLiteral("/ProgramData");
    qputenv("XDG_DATA_HOME", programData.toUtf8());
    QCOMPARE(vendorFolderPath(), programData + QStringLiteral("/Tarnwick"));
    const VendorFolder folder(vendorFolderPath());
    QVERIFY(QFileInfo(folder.path()).isDir());
    QCOMPARE(folder.filePath(QStringLiteral("dns.dat")),
             programData + QStringLiteral("/Tarnwick/dns.dat"));
}

void TestPaths::dataFilePathWithoutProgramData()
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/share")).toUtf8());
    qputenv("XDG_DATA_DIRS", "/usr/share");
    QTest::ignoreMessage(QtWarningMsg, "Utils: Can't find 'ProgramData' path!");
    const VendorFolder folder(vendorFolderPath());
    // No data file at all, rather than one in the current directory.
    QVERIFY(!folder.isUsable());
    QCOMPARE(folder.readFile(QStringLiteral("dns.dat")).status, VendorFolder::FileRead::Failed);
}

void TestPaths::trustsOnlyAPlainVendorFolder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("trusted");

    QTest::newRow("missing") << "missing" << true;
    QTest::newRow("plain folder") << "folder" << true;
    QTest::newRow("link to a folder") << "link" << false;
    QTest::newRow("dangling link") << "dangling link" << false;
    QTest::newRow("a file") << "file" << false;
}

void TestPaths::trustsOnlyAPlainVendorFolder()
{
    QFETCH(QString, kind);
    QFETCH(bool, trusted);

    QTemporaryDir machine;
    const QString programData = machine.path() + QStringLiteral("/ProgramData");
    const QString vendorFolder = programData + QStringLiteral("/Tarnwick");
    const QString elsewhere = machine.path() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(programData));
    if (kind == QLatin1String("folder") || kind == QLatin1String("link"))
        QVERIFY(QDir().mkpath(elsewhere));
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().rename(elsewhere, vendorFolder));
    if (kind.endsWith(QLatin1String("link")))
        QVERIFY(QFile::link(elsewhere, vendorFolder));
    if (kind == QLatin1String("file"))
        QVERIFY(QFile(vendorFolder).open(QIODevice::WriteOnly));

    if (kind.endsWith(QLatin1String("link"))) {
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable("Utils: Vendor folder is a link or junction, not used: " + vendorFolder));
    }
    if (kind == QLatin1String("file")) {
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("Utils: Vendor folder cannot be created: " + vendorFolder));
    }
    const VendorFolder folder(vendorFolder);
    QCOMPARE(folder.isUsable(), trusted);
    // Without a trusted folder there is no data file, rather than one elsewhere.
    QCOMPARE(folder.path(), trusted ? vendorFolder : QString());
    QCOMPARE(QFileInfo(elsewhere).exists(), kind == QLatin1String("link"));
}

void TestPaths::readsAndWritesOnlyTrustedFiles_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("setAside");

    QTest::newRow("none") << "none" << int(VendorFolder::FileRead::Missing) << false;
    QTest::newRow("the tool's own") << "own" << int(VendorFolder::FileRead::Read) << false;
    // A second name of a file of a trusted account, made while the folder
    // let users write: writing through it would write that file.
    QTest::newRow("hard link") << "hard link" << int(VendorFolder::FileRead::Missing) << true;
    QTest::newRow("symbolic link")
        << "symbolic link" << int(VendorFolder::FileRead::Missing) << true;
    QTest::newRow("another user's")
        << "other owner" << int(VendorFolder::FileRead::Missing) << true;
    QTest::newRow("writable by others")
        << "writable" << int(VendorFolder::FileRead::Missing) << true;
    // Opening it to read would wait for a writer.
    QTest::newRow("FIFO") << "fifo" << int(VendorFolder::FileRead::Missing) << true;
    QTest::newRow("the tool's own folder")
        << "folder" << int(VendorFolder::FileRead::Failed) << false;
}

void TestPaths::readsAndWritesOnlyTrustedFiles()
{
    QFETCH(QString, planted);
    QFETCH(int, status);
    QFETCH(bool, setAside);
    if (geteuid() != 0)
        QSKIP("files of another user need root");

    QTemporaryDir machine;
    const QString folderPath = machine.filePath("Tarnwick");
    const QString file = folderPath + "/dns.dat";
    const QString elsewhere = machine.filePath("elsewhere");
    const QByteArray old = "[UserDns]\nArgs=old\n";
    QVERIFY(QDir().mkpath(folderPath));
    QVERIFY(writeTo(elsewhere, old));
    QVERIFY(chmod(QFile::encodeName(elsewhere).constData(), 0600) == 0);
    if (planted == "own" || planted == "other owner" || planted == "writable")
        QVERIFY(writeTo(file, old));
    if (planted == "other owner")
        QCOMPARE(chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
    if (planted == "writable")
        QCOMPARE(chmod(QFile::encodeName(file).constData(), 0666), 0);
    if (planted == "hard link")
        QVERIFY(link(QFile::encodeName(elsewhere).constData(),
                     QFile::encodeName(file).constData()) == 0);
    if (planted == "symbolic link")
        QVERIFY(QFile::link(elsewhere, file));
    if (planted == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    if (planted == "folder")
        QVERIFY(QDir().mkpath(file));

    MessageCapture messages;
    const VendorFolder folder(folderPath);
    QVERIFY(folder.isUsable());
    const VendorFolder::FileRead read = folder.readFile("dns.dat");
    QCOMPARE(int(read.status), status);
    QCOMPARE(read.bytes, status == VendorFolder::FileRead::Read ? old : QByteArray());
    QCOMPARE(read.error.isEmpty(), status != VendorFolder::FileRead::Failed);
    const QStringList aside =
        QDir(folderPath).entryList({"dns.dat.untrusted-*"}, QDir::AllEntries | QDir::System);
    QCOMPARE(aside.size(), setAside ? 1 : 0);
    QCOMPARE(messages
                 .linesStartingWith("warning\tUtils: '" + file + "' is not ours, set aside as '" +
                                    folderPath + "/dns.dat.untrusted-")
                 .size(),
             setAside ? 1 : 0);

    // Replaced by a new file of the tool's own, readable by it alone; what
    // the planted file led to stays as it was.
    QCOMPARE(folder.writeFile("dns.dat", "new"), planted != "folder");
    QCOMPARE(contentOf(elsewhere), old);
    if (planted == "folder") {
        QVERIFY(QFileInfo(file).isDir());
        QCOMPARE(messages.linesStartingWith("warning\tUtils: Cannot write '" + file + "': ").size(),
                 1);
        return;
    }
    QCOMPARE(contentOf(file), QByteArray("new"));
    const QFileInfo written(file);
    QCOMPARE(written.ownerId(), 0u);
    QCOMPARE(written.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(folder.readFile("dns.dat").bytes, QByteArray("new"));
    QVERIFY(!QFile::exists(file + ".new"));
}

QTEST_GUILESS_MAIN(TestPaths)
#include "test_paths.moc"
