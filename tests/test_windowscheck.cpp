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

} // namespace

// check-on-windows.cmd, the check that the deployable folder holds for a real
// Windows machine, rehearsed on the Windows machine under Wine: the items
// that Wine can show pass, the others are skipped, and the restore it prints,
// the netsh commands that set the saved NameServer values again, puts back
// what the check left changed.
class TestWindowsCheck : public QObject
{
    Q_OBJECT

private slots:
    void passesWhatWineCanShowAndRestores();
};

void TestWindowsCheck::passesWhatWineCanShowAndRestores()
{
    TestMachine machine;
    QVERIFY(machine.isValid());
    if (!machine.isWindows())
        QSKIP("Needs the Windows machine under Wine (TARNWICK_TEST_MACHINE=windows)");
    const QString before = machine.show();

    const TestMachine::Run check = machine.runInWine(
        {"cmd", "/c", WinePrefix::windowsPath(QStringLiteral(TARNWICK_WINDOWS_CHECK))});
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
    QCOMPARE(lines.last(), QStringLiteral("6 passed, 0 failed"));
    QCOMPARE(check.exitCode, 0);
    QCOMPARE(withoutTapAdapter(machine.show()), withoutTapAdapter(before));
    QCOMPARE(machine.nameServer(sample::tap, true), QStringLiteral("192.0.2.1"));

    const QStringList printed = netshCommands(lines);
    QVERIFY2(!printed.isEmpty(), qPrintable(output));
    const QStringList restore = lines.filter(QRegularExpression("^" + restorePrefix));
    QVERIFY(!restore.isEmpty());
    const QStringList command = QProcess::splitCommand(restore.last().mid(restorePrefix.size()));
    machine.clearJournal();
    QCOMPARE(machine.runInWine(QStringList{"cmd", "/c"} + command).exitCode, 0);
    // The restore is the netsh commands printed, run through netsh.
    QCOMPARE(machine.netshCalls(), printed);
    QCOMPARE(machine.show(), before);
}

QTEST_GUILESS_MAIN(TestWindowsCheck)
#include "test_windowscheck.moc"
