#include "testmachine.h"
#include "wineprefix.h"

#include <QtTest>

// The Windows build finds its vendor folder below the ProgramData known
// folder, wherever an administrator moved it, on the Windows machine under
// Wine (whose shell takes the folder from the registry).
class TestKnownFolder : public QObject
{
    Q_OBJECT

private slots:
    void vendorFolderFollowsAMovedProgramData();
};

void TestKnownFolder::vendorFolderFollowsAMovedProgramData()
{
    TestMachine machine;
    QVERIFY(machine.isValid());
    if (!machine.isWindows())
        QSKIP("Needs the Windows machine under Wine (TARNWICK_TEST_MACHINE=windows)");

    // A path that does not read "ProgramData".
    const QString moved = machine.root() + QStringLiteral("/Shared");
    QVERIFY(QDir().mkpath(moved));
    const TestMachine::Run move = machine.runInWine(
        {"reg", "add",
         "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", "/v",
         "Common AppData", "/d", WinePrefix::windowsPath(moved), "/f"});
    QCOMPARE(move.exitCode, 0);

    QCOMPARE(machine.runTool(sample::vpnArguments()).exitCode, 0);
    QVERIFY(QFileInfo(moved + QStringLiteral("/Tarnwick/dns.dat")).isFile());
    QVERIFY(!QFileInfo::exists(machine.vendorFolder()));
    QCOMPARE(machine.nameServer(sample::ethernet, true), sample::vpnIpv4);
}

QTEST_GUILESS_MAIN(TestKnownFolder)
#include "test_knownfolder.moc"
