// The Windows registry, through QSettings in its native format.
#include "registry.h"

#include <QSettings>
#include <algorithm>

struct RegistryKey::Private
{
    explicit Private(const QString &keyPath) : settings(keyPath, QSettings::NativeFormat) {}
    QSettings settings;
};

RegistryKey::RegistryKey(const QString &keyPath) : d(new Private(keyPath)) {}

RegistryKey::~RegistryKey() = default;

QStringList RegistryKey::subkeys() const
{
    // Sorted here so that every caller can rely on ascending order.
    QStringList names = d->settings.childGroups();
    std::sort(names.begin(), names.end());
    return names;
}

void RegistryKey::enter(const QString &subkey)
{
    d->settings.beginGroup(subkey);
}

void RegistryKey::leave()
{
    d->settings.endGroup();
}

QStringList RegistryKey::valueNames() const
{
    return d->settings.childKeys();
}

QString RegistryKey::value(const QString &name) const
{
    return d->settings.value(name, QString()).toString();
}
