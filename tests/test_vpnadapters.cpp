#include "testmachine.h"

#include <QFile>
#include <QtTest>

namespace {

const QString adapterClassKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-"
                   "11CE-BFC1-08002BE10318}");
const QString vpnEntry =
    QStringLiteral("{00000000-0000-4000-8000-000000000001}@172.16.0.1,fd00:dead:beef:cafe::1");
const int interfaceCount = 8;
const int adapterCount = interfaceCount + 4;

QString readsJournalPath(const TestMachine &machine)
{
    return machine.root() + QStringLiteral("/registry-reads");
}

// Starts the journal of the tool's registry reads afresh.
bool startReadsJournal(const TestMachine &machine)
{
    QFile journal(readsJournalPath(machine));
    return journal.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

// The journaled reads of the adapter class key and of its subkeys.
QStringList adapterClassReads(const TestMachine &machine)
{
    QFile journal(readsJournalPath(machine));
    if (!journal.open(QIODevice::ReadOnly))
        return {};
    QStringList reads;
    for (const QString &line : QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'))) {
        if (line.section(QLatin1Char('\t'), 1, 1).startsWith(adapterClassKey))
            reads.append(line);
    }
    return reads;
}

} // namespace

// A run reads the network adapter class key once, whatever number of
// records it builds: one listing of its subkeys, and each subkey's values
// read once. Runs on a machine of 8 interfaces and 12 adapters.
class TestVpnAdapters : public QObject
{
    Q_OBJECT

private slots:
    void oneReadingPerRun_data();
    void oneReadingPerRun();
};

void TestVpnAdapters::oneReadingPerRun_data()
{
    QTest::addColumn<QStringList>("earlierRun");
    QTest::addColumn<QStringList>("run");

    QTest::newRow("vpn") << QStringList() << QStringList{"vpn", vpnEntry};
    QTest::newRow("vpn again") << QStringList{"vpn", vpnEntry} << QStringList{"vpn", vpnEntry};
    QTest::newRow("reset after vpn") << QStringList{"vpn", vpnEntry} << QStringList{"reset"};
    QTest::newRow("reset without data file") << QStringList() << QStringList{"reset"};
    QTest::newRow("user with two entries")
        << QStringList()
        << QStringList{"user", "{00000000-0000-4000-8000-000000000001}@192.0.2.9",
                       "{00000000-0000-4000-8000-000000000002}@"};
}

void TestVpnAdapters::oneReadingPerRun()
{
    SIMULATED_MACHINE_ONLY("only the simulated registry counts the reads of a run");
    QFETCH(QStringList, earlierRun);
    QFETCH(QStringList, run);

    const TestMachine machine({"--interfaces", QString::number(interfaceCount)});
    QVERIFY(machine.isValid());
    if (!earlierRun.isEmpty())
        QCOMPARE(machine.runTool(earlierRun).exitCode, 0);
    QVERIFY(startReadsJournal(machine));
    QCOMPARE(machine.runTool(run).exitCode, 0);

    const QStringList reads = adapterClassReads(machine);
    QCOMPARE(reads.filter(QRegularExpression("^subkeys\t")).size(), 1);
    QCOMPARE(reads.filter(QRegularExpression("^values\t")).size(), adapterCount);
    QCOMPARE(QSet<QString>(reads.cbegin(), reads.cend()).size(), reads.size());
}

QTEST_GUILESS_MAIN(TestVpnAdapters)
#include "test_vpnadapters.moc"
