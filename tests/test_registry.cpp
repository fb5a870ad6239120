#include "simregistry.h"
#include "utils/registry.h"

#include <QtTest>

// The registry facade on a simulated registry tree.
class TestRegistry : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void listsSubkeysInAscendingOrder();
    void matchesNamesIgnoringCase_data();
    void matchesNamesIgnoringCase();
    void entersAndLeavesSubkeys();
    void missingKeysAndValuesAreEmpty();
    void everyReadShowsTheCurrentState();
    void withoutMachineEverythingIsEmpty();

private:
    void write(const QString &keyPath, const QString &name, const QString &text);

    QScopedPointer<QTemporaryDir> machine;
    const QString interfaces = QStringLiteral(
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces");
};

void TestRegistry::write(const QString &keyPath, const QString &name, const QString &text)
{
    QVERIFY(SimRegistry::writeValue(SimRegistry(machine->path()).createKey(keyPath), name, text));
}

void TestRegistry::init()
{
    machine.reset(new QTemporaryDir);
    qputenv("TARNWICK_SIM_ROOT", machine->path().toUtf8());
    write(interfaces + QStringLiteral("\\{B}"), QStringLiteral("NameServer"),
          QStringLiteral("192.0.2.1,192.0.2.2"));
    write(interfaces + QStringLiteral("\\{a}"), QStringLiteral("NameServer"), QString());
    write(interfaces + QStringLiteral("\\{A2}"), QStringLiteral("Domain"), QStringLiteral("lan"));
    write(interfaces + QStringLiteral("\\{A2}"), QStringLiteral("NameServer"),
          QStringLiteral("2001:db8::1"));
}

void TestRegistry::listsSubkeysInAscendingOrder()
{
    RegistryKey key(interfaces);
    QCOMPARE(key.subkeys(), (QStringList{"{A2}", "{B}", "{a}"}));
}

void TestRegistry::matchesNamesIgnoringCase_data()
{
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<QString>("valueName");
    QTest::addColumn<QString>("value");

    QTest::newRow("as stored") << interfaces + "\\{B}"
                               << "NameServer"
                               << "192.0.2.1,192.0.2.2";
    QTest::newRow("key in other case") << interfaces + "\\{b}"
                                       << "NameServer"
                                       << "192.0.2.1,192.0.2.2";
    QTest::newRow("path in other case")
        << "hkey_local_machine\\system\\currentcontrolset\\services\\tcpip\\parameters\\"
           "interfaces\\{a2}"
        << "nameserver"
        << "2001:db8::1";
    QTest::newRow("empty value") << interfaces + "\\{A}"
                                 << "NameServer"
                                 << "";
}

void TestRegistry::matchesNamesIgnoringCase()
{
    QFETCH(QString, keyPath);
    QFETCH(QString, valueName);
    QFETCH(QString, value);
    QCOMPARE(RegistryKey(keyPath).value(valueName), value);
}

void TestRegistry::entersAndLeavesSubkeys()
{
    RegistryKey key(interfaces);
    key.enter(QStringLiteral("{a2}"));
    QCOMPARE(key.valueNames(), (QStringList{"Domain", "NameServer"}));
    QCOMPARE(key.value(QStringLiteral("Domain")), QStringLiteral("lan"));
    key.leave();
    QCOMPARE(key.valueNames(), QStringList());
    QCOMPARE(key.subkeys().size(), 3);
}

void TestRegistry::missingKeysAndValuesAreEmpty()
{
    RegistryKey missing(interfaces + QStringLiteral("\\{C}"));
    QCOMPARE(missing.subkeys(), QStringList());
    QCOMPARE(missing.valueNames(), QStringList());
    QCOMPARE(missing.value(QStringLiteral("NameServer")), QString());
    QCOMPARE(RegistryKey(interfaces + QStringLiteral("\\{B}")).value(QStringLiteral("Missing")),
             QString());
}

void TestRegistry::everyReadShowsTheCurrentState()
{
    RegistryKey key(interfaces + QStringLiteral("\\{B}"));
    QCOMPARE(key.value(QStringLiteral("NameServer")), QStringLiteral("192.0.2.1,192.0.2.2"));
    write(interfaces + QStringLiteral("\\{B}"), QStringLiteral("NameServer"),
          QStringLiteral("172.16.0.1"));
    QCOMPARE(key.value(QStringLiteral("NameServer")), QStringLiteral("172.16.0.1"));
}

void TestRegistry::withoutMachineEverythingIsEmpty()
{
    qunsetenv("TARNWICK_SIM_ROOT");
    RegistryKey key(interfaces);
    QCOMPARE(key.subkeys(), QStringList());
    key.enter(QStringLiteral("{B}"));
    QCOMPARE(key.value(QStringLiteral("NameServer")), QString());
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "test_registry.moc"
