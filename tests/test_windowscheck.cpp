#include "testmachine.h"
#include "wineprefix.h"

#include <QtTest>

namespace {

const QString restorePrefix = QStringLiteral("To restore them, run elevated: ");

// A machine's table (TestMachine::show) without the VPN's TAP adapter, which
// the check's switch back leaves on the check's servers.
QStringList withoutTapAdapter(const QString &table)
{
    QStringList kept;
    for (const QString &line : table.split(QLatin1Char('\n'))) {
        if (!line.startsWith(sample::tap))
            kept.append(line);
    }
    return kept;
}

// The netsh commands among the check's lines, each as its arguments joined
// by single blanks, as TestMachine::netshCalls gives them.
QStringList netshCommands(const QStringList &lines)
{
    QStringList commands;
    for (const QString &line : lines) {
        QStringList words = QProcess::splitCommand(line);
        if (!words.isEmpty() &&
            words.first().endsWith(QLatin1String("\\netsh.exe"), Qt::CaseInsensitive)) {
            words.removeFirst();
            commands.append(words.join(QLatin1Char(' ')));
        }
    }
    return commands;
}

// The check's work folders left in the prefix.
QStringList workFolders(const TestMachine &machine)
{
    QStringList folders;
    QDirIterator it(machine.environment().value(QStringLiteral("WINEPREFIX")) +
                        QStringLiteral("/drive_c/users"),
                    {QStringLiteral("tarnwick-check-*")}, QDir::Dirs, QDirIterator::Subdirectories);
    while (it.hasNext())
        folders.append(it.next());
    return folders;
}

} // namespace

// check-on-windows.cmd, the check that the deployable folder holds for a real
// Windows machine, rehearsed on the Windows machine under Wine: the items
// that Wine can show pass, the others are skipped, and at its end it compares
// every NameServer value with the start, running its restore, the netsh
// commands that set the saved values again, where one differs.
class TestWindowsCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void passesWhatWineCanShow();
    void restoresAValueChangedBehindItsBack();

private:
    QScopedPointer<TestMachine> machine;
    QString checkPath = WinePrefix::windowsPath(QStringLiteral(TARNWICK_WINDOWS_CHECK));
};

void TestWindowsCheck::init()
{
    machine.reset(new TestMachine);
    QVERIFY(machine->isValid());
    if (!machine->isWindows())
        QSKIP("Needs the Windows machine under Wine (TARNWICK_TEST_MACHINE=windows)");
}

void TestWindowsCheck::passesWhatWineCanShow()
{
    const QString before = machine->show();
    const TestMachine::Run check = machine->runInWine({"cmd", "/c", checkPath});
    const QString output = QString::fromLocal8Bit(check.standardOutput);
    const QStringList lines = output.trimmed().split(QStringLiteral("\r\n"));
    QStringList verdicts;
    for (const QString &line : lines) {
        if (QRegularExpression("^(PASS|FAIL|SKIP) ").match(line).hasMatch())
            verdicts.append(line.section(QLatin1Char(' '), 0, 1));
    }
    // Wine keeps no access lists (6, 10), its resolver cache flush is a stub
    // (7), its icacls gives no file another owner (8, 10), and it has no
    // separate accounts (9), its jobs refuse silent breakaway (12), and its
    // iphlpapi.dll has no SetInterfaceDnsSettings, so that netsh sets every
    // list and there is nothing to compare it with (13).
    QVERIFY2(verdicts ==
                 QStringList({"PASS 1", "PASS 2", "PASS 3", "PASS 4", "PASS 5", "SKIP 6", "SKIP 7",
                              "SKIP 8", "SKIP 9", "SKIP 10", "PASS 11", "SKIP 12", "SKIP 13"}),
             qPrintable(output));
    // Items 3 and 5 tell from their runs' summary lines that netsh set every
    // list, and item 13 names the line that says why.
    for (const QString &item : {QStringLiteral("PASS 3 "), QStringLiteral("PASS 5 ")}) {
        const QStringList said = lines.filter(QRegularExpression("^" + item));
        QVERIFY2(said.size() == 1 &&
                     QRegularExpression("; 0 lists set natively by SetInterfaceDnsSettings in 0 "
                                        "ms, [1-9][0-9]* netsh commands in [0-9]+ ms$")
                         .match(said.first())
                         .hasMatch(),
                 qPrintable(output));
    }
    const QStringList item13 = lines.filter(QRegularExpression("^SKIP 13 "));
    QVERIFY2(item13.size() == 1 &&
                 item13.first().contains(QStringLiteral(": no list was set natively, ")) &&
                 item13.first().endsWith(QStringLiteral(
                     ": SetInterfaceDnsSettings is not in iphlpapi.dll (Windows before 10 "
                     "2004), DNS lists are set with netsh")),
             qPrintable(output));
    // The sample machine's 4 interfaces but the TAP adapter, in both stacks.
    QVERIFY2(lines.contains("Every NameServer value is as at the start, the VPN's adapters left "
                            "out: 8 compared."),
             qPrintable(output));
    QCOMPARE(lines.last(), QStringLiteral("6 passed, 0 failed"));
    QCOMPARE(check.exitCode, 0);
    QCOMPARE(withoutTapAdapter(machine->show()), withoutTapAdapter(before));
    QCOMPARE(machine->nameServer(sample::tap, true), QStringLiteral("192.0.2.1"));
    QCOMPARE(workFolders(*machine), QStringList());
}

void TestWindowsCheck::restoresAValueChangedBehindItsBack()
{
    const QString before = machine->show();
    QProcess check;
    machine->startInWine(check, {"cmd", "/c", checkPath});
    // Once the check has saved the values and writes its restore, which
    // the file system shows at once where its output may wait in a pipe,
    // another program sets the list of an interface that the tool never
    // lists, and so never restores, whenever the change lands.
    QTRY_VERIFY_WITH_TIMEOUT(
        workFolders(*machine).size() == 1 &&
            QFile::exists(workFolders(*machine).first() + "/restore-nameservers.cmd"),
        120000);
    QCOMPARE(machine
                 ->runInWine({"reg", "add",
                              "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\"
                              "Interfaces\\" +
                                  sample::kernelDebug,
                              "/v", "NameServer", "/d", "198.51.100.99", "/f"})
                 .exitCode,
             0);
    QVERIFY(check.waitForFinished(600000));
    const QByteArray output = check.readAllStandardOutput();
    const QStringList lines = QString::fromLocal8Bit(output).trimmed().split("\r\n");
    QVERIFY2(lines.contains("FAIL - after the final reset NameServer values differed from the "
                            "start, which the restore put back: '" +
                            sample::kernelDebug + "' IPv4: was '192.0.2.99', now '198.51.100.99'"),
             qPrintable(lines.join('\n')));
    QCOMPARE(check.exitCode(), 1);
    // The restore ran last, the commands it printed at the start; it gave
    // the TAP adapter its servers back too.
    const QStringList printed = netshCommands(lines);
    QVERIFY(!printed.isEmpty());
    const QStringList calls = machine->netshCalls();
    QCOMPARE(calls.mid(calls.size() - printed.size()), printed);
    QCOMPARE(machine->show(), before);
    QCOMPARE(workFolders(*machine), QStringList());
}
QTEST_GUILESS_MAIN(TestWindowsCheck)
#include "test_windowscheck.moc"
