#include "dns/interfaceinfo.h"
#include "testmachine.h"

#include <QtTest>

namespace {

const QString adapterClass =
    QStringLiteral("Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\");

} // namespace

// The TAP adapter recognition on the sample machine, with two extra adapters:
// a second TAP adapter whose instance ID is written in lower case, and one
// whose device ID is "TAP0901" in capitals.
class TestInterfaceInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recognisesTapAdapters_data();
    void recognisesTapAdapters();
    void copiesKeepTheFlag();

private:
    TestMachine machine;
};

void TestInterfaceInfo::initTestCase()
{
    QVERIFY(machine.isValid());
    machine.enter();
    machine.setRegistryValue(adapterClass + "0010", "MatchingDeviceId", "tap0901");
    machine.setRegistryValue(adapterClass + "0010", "NetCfgInstanceId",
                             "{aaaaaaaa-0000-0000-0000-000000000001}");
    machine.setRegistryValue(adapterClass + "0011", "MatchingDeviceId", "TAP0901");
    machine.setRegistryValue(adapterClass + "0011", "NetCfgInstanceId",
                             "{BBBBBBBB-0000-0000-0000-000000000002}");
}

void TestInterfaceInfo::recognisesTapAdapters_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("vpn");

    QTest::newRow("sample TAP adapter") << sample::tap << true;
    QTest::newRow("its ID in lower case") << sample::tap.toLower() << true;
    QTest::newRow("second TAP adapter, instance ID in other case")
        << "{AAAAAAAA-0000-0000-0000-000000000001}" << true;
    QTest::newRow("device ID in capitals") << "{BBBBBBBB-0000-0000-0000-000000000002}" << false;
    QTest::newRow("ordinary adapter") << sample::ethernet << false;
    QTest::newRow("unknown ID") << "{CCCCCCCC-0000-0000-0000-000000000003}" << false;
}

void TestInterfaceInfo::recognisesTapAdapters()
{
    QFETCH(QString, id);
    QFETCH(bool, vpn);
    const VpnAdapters adapters = VpnAdapters::read();
    QCOMPARE(InterfaceInfo(id, id, {}, {}, adapters).isVpn(), vpn);
}

void TestInterfaceInfo::copiesKeepTheFlag()
{
    const InterfaceInfo record(sample::tap, "Local Area Connection", {"172.16.0.1"}, {},
                               VpnAdapters::read());
    // Without the machine no lookup could flag a record, so a flagged copy
    // shows that copying does not look again.
    qunsetenv("TARNWICK_SIM_ROOT");
    const InterfaceInfo copy = record;
    QVERIFY(copy.isVpn());
    QVERIFY(!InterfaceInfo(sample::tap, {}, {}, {}, VpnAdapters::read()).isVpn());
    QCOMPARE(copy.ipv4Dns(), QStringList{"172.16.0.1"});
    machine.enter();
}

QTEST_GUILESS_MAIN(TestInterfaceInfo)
#include "test_interfaceinfo.moc"
