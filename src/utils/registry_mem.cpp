// The registry of the tests' in-memory machine.
#include "registry.h"

#include "memmachine.h"

struct RegistryKey::Private
{
    QString keyPath;
    QStringList enteredSubkeys;

    QString currentKey() const
    {
        return (QStringList(keyPath) + enteredSubkeys).join(QLatin1Char('\\'));
    }
};

RegistryKey::RegistryKey(const QString &keyPath) : d(new Private)
{
    d->keyPath = keyPath;
}

RegistryKey::~RegistryKey() = default;

QStringList RegistryKey::subkeys() const
{
    return MemMachine::current().subkeys(d->currentKey());
}

void RegistryKey::enter(const QString &subkey)
{
    d->enteredSubkeys.append(subkey);
}

void RegistryKey::leave()
{
    if (!d->enteredSubkeys.isEmpty())
        d->enteredSubkeys.removeLast();
}

QStringList RegistryKey::valueNames() const
{
    return MemMachine::current().valueNames(d->currentKey());
}

QString RegistryKey::value(const QString &name) const
{
    return stringValue(name).value_or(QString());
}

std::optional<QString> RegistryKey::stringValue(const QString &name) const
{
    return MemMachine::current().value(d->currentKey(), name);
}
