#include "testmachine.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList fileNames(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files);
    names.sort();
    return names;
}

// "nobody" stands for a standard user.
const uid_t nobody = 65534;

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

unsigned modeOf(const QString &path)
{
    struct stat status;
    return lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace

// The built tarnwick-dns in a fresh simulated machine whose vendor folder,
// or files in it, somebody else made before the tool's run. A folder that
// is a link is never used: the tool neither logs there, nor cleans up
// there, nor reads or writes the data file there, and changes no DNS
// server. A folder or file that a standard user made is neither read nor
// written nor lost: it is set aside.
class TestVendorFolder : public QObject
{
    Q_OBJECT

private slots:
    void linkedVendorFolderIsNotUsed();
    void plantedFilesAreSetAside_data();
    void plantedFilesAreSetAside();
    void foreignVendorFolderIsMovedAside();
    void runWithoutElevationMakesNoFolder();
    void leftoversNeitherBlockNorGo();
    void logThatCannotBeOpenedGoesToAFreshLog();
};

void TestVendorFolder::linkedVendorFolderIsNotUsed()
{
    TestMachine machine;
    QVERIFY(machine.isValid());
    const QString elsewhere = machine.root() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir(machine.vendorFolder()).removeRecursively());
    QVERIFY(QFile::link(elsewhere, machine.vendorFolder()));

    // Twelve log files, so that a clean-up there would delete three, and a
    // data file whose servers a reset must not restore.
    for (int i = 0; i < 12; ++i) {
        QFile log(elsewhere + QStringLiteral("/%1.log").arg(i));
        QVERIFY(log.open(QIODevice::WriteOnly));
    }
    const QByteArray planted = "[UserDns]\nArgs=" + sample::ethernet.toUtf8() + "@203.0.113.66\n";
    {
        QFile data(elsewhere + QStringLiteral("/dns.dat"));
        QVERIFY(data.open(QIODevice::WriteOnly));
        data.write(planted);
    }
    const QStringList before = fileNames(elsewhere);

    const QString table = machine.show();
    const QByteArray refused = "Utils: Vendor folder is a link or junction, not used: ";
    // Without a trusted folder there is neither a record nor a run lock, so
    // no run changes anything. The log goes to Qt's default output: standard
    // error, or on Windows without a console the debugger's output.
    for (const QStringList &arguments :
         {QStringList{"vpn", sample::tap + QStringLiteral("@172.16.0.1")}, QStringList{"reset"}}) {
        const TestMachine::Run run = machine.runTool(arguments);
        QCOMPARE(run.exitCode, 12);
        if (!machine.isWindows()) {
            QVERIFY(run.standardError.contains(refused));
            QVERIFY(run.standardError.contains("DNS servers left unchanged"));
        }
        QCOMPARE(machine.show(), table);
    }
    QVERIFY(machine.netshCalls().isEmpty());

    QCOMPARE(fileNames(elsewhere), before);
    QCOMPARE(contentOf(elsewhere + QStringLiteral("/dns.dat")), planted);
}

void TestVendorFolder::plantedFilesAreSetAside_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("files of another user") << "other owner" << QStringList{"reset"};
    // A second name of a file of a trusted account: writing the data file
    // through it would write that file.
    QTest::newRow("hard link to another file") << "hard link" << sample::vpnArguments();
}

void TestVendorFolder::plantedFilesAreSetAside()
{
    QFETCH(QString, planted);
    QFETCH(QStringList, arguments);
    if (geteuid() != 0)
        QSKIP("planting files of another user needs root");
    TestMachine machine;
    QVERIFY(machine.isValid());
    // A folder an installer made, owned by Administrators, with
    // ProgramData's access list lets every user create files there:
    // "nobody" stands for such a user.
    const QString folder = machine.vendorFolder();
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0777), 0);
    const QByteArray data = "[UserDns]\nArgs=" + sample::ethernet.toUtf8() +
                            "@203.0.113.66\n[VpnDns]\nSwitched=" + sample::ethernet.toUtf8() + "\n";
    const QString elsewhere = machine.root() + "/elsewhere.dat";
    QVERIFY(writeFile(elsewhere, data));
    QStringList plantedNames = {"dns.dat"};
    if (planted == "hard link") {
        QCOMPARE(link(QFile::encodeName(elsewhere).constData(),
                      QFile::encodeName(machine.dataFilePath()).constData()),
                 0);
    } else {
        plantedNames.append("dns.lock");
        for (const QString &name : plantedNames) {
            const QString path = folder + "/" + name;
            QVERIFY(writeFile(path, name == "dns.dat" ? data : QByteArray()));
            QCOMPARE(chown(QFile::encodeName(path).constData(), nobody, nobody), 0);
        }
    }
    const QString table = machine.show();

    QCOMPARE(machine.runTool(arguments).exitCode, 0);
    // Neither read nor applied, nor lost, nor written through.
    const QStringList aside = QDir(folder).entryList({"dns.*.untrusted-*"}, QDir::Files);
    QCOMPARE(aside.size(), plantedNames.size());
    QCOMPARE(contentOf(folder + "/" + aside.filter("dns.dat").value(0)), data);
    QCOMPARE(contentOf(elsewhere), data);
    QCOMPARE(machine.logLines().filter("is not ours, set aside").size(), plantedNames.size());
    if (arguments == QStringList{"reset"}) {
        QCOMPARE(machine.show(), table);
        QVERIFY(machine.logLines().contains(
            "warning\tDns: DNS data file cannot be read, resetting to default values"));
    } else {
        QCOMPARE(machine.nameServer(sample::ethernet, true), sample::vpnIpv4);
        QVERIFY(machine.dataFileValue("UserDns/Args").contains(sample::ethernet));
    }
    if (!machine.isWindows()) {
        // Protected, and its files readable by root alone.
        QCOMPARE(QFileInfo(folder).ownerId(), 0u);
        QCOMPARE(modeOf(folder), 0711u);
        QCOMPARE(modeOf(folder + "/dns.lock"), 0600u);
    }
}

void TestVendorFolder::foreignVendorFolderIsMovedAside()
{
    // Any user may create the folder below ProgramData before the tool
    // first runs, and owns it then; handles the user opened on it keep
    // their rights whatever is done to it.
    if (geteuid() != 0)
        QSKIP("a folder of another user needs root");
    TestMachine machine;
    QVERIFY(machine.isValid());
    const QString folder = machine.vendorFolder();
    QVERIFY(QDir().mkpath(folder));
    const QByteArray planted = "[UserDns]\nArgs=" + sample::ethernet.toUtf8() + "@203.0.113.66\n";
    QVERIFY(writeFile(machine.dataFilePath(), planted));
    for (const QString &path : {folder, machine.dataFilePath()})
        QCOMPARE(chown(QFile::encodeName(path).constData(), nobody, nobody), 0);
    QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0777), 0);
    const QString table = machine.show();

    const TestMachine::Run run = machine.runTool({"reset"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(machine.show(), table);
    const QDir programData = QFileInfo(folder).dir();
    const QStringList aside = programData.entryList({"Tarnwick.untrusted-*"}, QDir::Dirs);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(contentOf(programData.filePath(aside.first()) + "/dns.dat"), planted);
    QVERIFY(machine.logLines().contains(
        "warning\tDns: DNS data file doesn't exist, resetting to default values"));
    if (!machine.isWindows()) {
        // Logged before the log was set up: to the default output.
        QVERIFY(run.standardError.contains("Utils: Vendor folder '" + folder.toUtf8() +
                                           "' is not ours, moved aside as '" + folder.toUtf8() +
                                           ".untrusted-"));
        QCOMPARE(QFileInfo(folder).ownerId(), 0u);
        QCOMPARE(modeOf(folder), 0711u);
    }
}

void TestVendorFolder::runWithoutElevationMakesNoFolder()
{
    SIMULATED_MACHINE_ONLY("Wine runs every program as the owner of its prefix");
    if (geteuid() != 0)
        QSKIP("running as another user needs root");
    TestMachine machine;
    QVERIFY(machine.isValid());
    // Every user may create folders below ProgramData, and reach it.
    const QString programData = QFileInfo(machine.vendorFolder()).path();
    for (const QString &path : {QFileInfo(machine.root()).path(), machine.root()})
        QCOMPARE(chmod(QFile::encodeName(path).constData(), 0755), 0);
    QCOMPARE(chmod(QFile::encodeName(programData).constData(), 01777), 0);

    QProcess tool;
    tool.setProcessEnvironment(machine.environment());
    tool.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                           TestMachine::toolPath(), "reset"});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 12);
    QVERIFY(tool.readAllStandardError().contains("not elevated"));
    QCOMPARE(QDir(programData).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestVendorFolder::leftoversNeitherBlockNorGo()
{
    TestMachine machine;
    QVERIFY(machine.isValid());
    QVERIFY(machine.runTool({"reset"}).exitCode == 0);
    // What a killed run leaves (to go), a folder at a name the tool once
    // used, and files of the record that no clean-up may touch.
    const QString folder = machine.vendorFolder() + "/";
    const QString leftover = "dns.dat.tmp-0123456789abcdef0123456789abcdef";
    QVERIFY(QDir().mkpath(folder + "dns.dat.new"));
    const QStringList kept = {"dns.dat.copy", "dns.dat.damaged-1", "dns.dat.tmp-other"};
    for (const QString &name : kept + QStringList{leftover})
        QVERIFY(writeFile(folder + name, "[UserDns]\n"));
    if (!machine.isWindows())
        QCOMPARE(chmod(QFile::encodeName(folder + leftover).constData(), 0600), 0);

    QCOMPARE(machine.runTool(sample::vpnArguments()).exitCode, 0);
    QCOMPARE(machine.nameServer(sample::ethernet, true), sample::vpnIpv4);
    QVERIFY(!QFile::exists(folder + leftover));
    for (const QString &name : kept)
        QVERIFY2(QFile::exists(folder + name), qPrintable(name));
    QCOMPARE(QDir(folder).entryList({"dns.dat.tmp-*"}), QStringList{"dns.dat.tmp-other"});
}

void TestVendorFolder::logThatCannotBeOpenedGoesToAFreshLog()
{
    // As when a reader holds the live log without write sharing on Windows.
    TestMachine machine;
    QVERIFY(machine.isValid());
    QVERIFY(machine.runTool({"reset"}).exitCode == 0);
    QVERIFY(QFile::remove(machine.logFilePath()));
    QVERIFY(QDir().mkpath(machine.logFilePath()));

    QCOMPARE(machine.runTool({"reset"}).exitCode, 0);
    const QStringList fresh = QDir(machine.vendorFolder()).entryList({"tarnwick-dns-*.log"});
    QCOMPARE(fresh.size(), 1);
    const QString lines = QString::fromUtf8(contentOf(machine.vendorFolder() + "/" + fresh[0]));
    QVERIFY2(lines.contains("cannot be appended to, this run logs to '"), qPrintable(lines));
    QVERIFY(lines.contains("Dns: DNS data file doesn't exist"));
}

QTEST_GUILESS_MAIN(TestVendorFolder)
#include "test_vendorfolder.moc"
