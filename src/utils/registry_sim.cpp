// The registry of the simulated machine named by TARNWICK_SIM_ROOT.
#include "registry.h"

#include "simregistry.h"

#include <QFileInfo>

struct RegistryKey::Private
{
    SimRegistry registry{SimRegistry::rootFromEnvironment()};
    QString keyPath;
    QStringList enteredSubkeys;
    // The directory of the opened key, kept while it exists: resolving the
    // whole path ignoring case on every read would cost a lookup per level.
    mutable QString keyDirectory;

    QString currentKey() const
    {
        if (keyDirectory.isEmpty() || !QFileInfo(keyDirectory).isDir())
            keyDirectory = registry.findKey(keyPath);
        if (keyDirectory.isEmpty() || enteredSubkeys.isEmpty())
            return keyDirectory;
        return SimRegistry::findSubkey(keyDirectory, enteredSubkeys);
    }
};

RegistryKey::RegistryKey(const QString &keyPath) : d(new Private)
{
    d->keyPath = keyPath;
}

RegistryKey::~RegistryKey() = default;

QStringList RegistryKey::subkeys() const
{
    return SimRegistry::subkeys(d->currentKey());
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
    return SimRegistry::valueNames(d->currentKey());
}

QString RegistryKey::value(const QString &name) const
{
    return SimRegistry::readValue(d->currentKey(), name);
}
