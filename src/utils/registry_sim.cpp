// The registry of the simulated machine named by TARNWICK_SIM_ROOT.
#include "registry.h"

#include "simregistry.h"

struct RegistryKey::Private
{
    SimRegistry registry{SimRegistry::rootFromEnvironment()};
    QStringList path;

    QString currentKey() const { return registry.findKey(path.join(QLatin1Char('\\'))); }
};

RegistryKey::RegistryKey(const QString &keyPath) : d(new Private)
{
    d->path.append(keyPath);
}

RegistryKey::~RegistryKey() = default;

QStringList RegistryKey::subkeys() const
{
    return SimRegistry::subkeys(d->currentKey());
}

void RegistryKey::enter(const QString &subkey)
{
    d->path.append(subkey);
}

void RegistryKey::leave()
{
    if (d->path.size() > 1)
        d->path.removeLast();
}

QStringList RegistryKey::valueNames() const
{
    return SimRegistry::valueNames(d->currentKey());
}

QString RegistryKey::value(const QString &name) const
{
    return SimRegistry::readValue(d->currentKey(), name);
}
