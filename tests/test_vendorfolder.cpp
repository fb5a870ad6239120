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

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The built tarnwick-dns in a fresh simulated machine whose vendor folder
// somebody made a link before the tool's first run: the tool neither logs
// there, nor cleans up there, nor reads or writes the data file there, and
// changes no DNS server.
class TestVendorFolder : public QObject
{
    Q_OBJECT

private slots:
    void linkedVendorFolderIsNotUsed();
    void plantedFilesAreSetAside();
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
        QCOMPARE(run.exitCode, 0);
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

void TestVendorFolder::plantedFilesAreSetAside()
{
    // A folder an installer made with ProgramData's access list lets every
    // user create files: "nobody" stands for such a user.
    const uid_t nobody = 65534;
    if (geteuid() != 0)
        QSKIP("planting files of another user needs root");
    TestMachine machine;
    QVERIFY(machine.isValid());
    const QString folder = machine.vendorFolder();
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(chown(QFile::encodeName(folder).constData(), nobody, nobody), 0);
    QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0777), 0);
    const QByteArray planted = "[UserDns]\nArgs=" + sample::ethernet.toUtf8() +
                               "@203.0.113.66\n[VpnDns]\nSwitched=" + sample::ethernet.toUtf8() +
                               "\n";
    for (const QString name : {"dns.dat", "dns.lock"}) {
        QFile file(folder + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(name == "dns.dat" ? planted : QByteArray());
        file.close();
        QCOMPARE(chown(QFile::encodeName(file.fileName()).constData(), nobody, nobody), 0);
    }
    const QString table = machine.show();

    QCOMPARE(machine.runTool({"reset"}).exitCode, 0);
    // Neither read nor applied, nor lost.
    QCOMPARE(machine.show(), table);
    const QStringList aside = QDir(folder).entryList({"dns.*.untrusted-*"}, QDir::Files);
    QCOMPARE(aside.size(), 2);
    QCOMPARE(contentOf(folder + "/" + aside.first()), planted);
    QCOMPARE(machine.logLines().filter("is not ours, set aside").size(), 2);
    QVERIFY(machine.logLines().contains(
        "warning\tDns: DNS data file doesn't exist, resetting to default values"));
    if (!machine.isWindows()) {
        const QFileInfo protectedFolder(folder);
        QCOMPARE(protectedFolder.ownerId(), 0u);
        QCOMPARE(protectedFolder.permissions() & (QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
    }
}

QTEST_GUILESS_MAIN(TestVendorFolder)
#include "test_vendorfolder.moc"
