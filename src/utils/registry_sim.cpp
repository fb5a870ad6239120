// The registry of the simulated machine named by TARNWICK_SIM_ROOT.
//
// When ROOT/registry-reads exists as the key is opened, every read of the key
// appends one line to it: the operation ("subkeys", "values" or "value"), the
// key path with the entered subkeys and, for "value", the value name, all
// TAB-separated. Tests count the reads of a run with it.
#include "registry.h"

#include "simregistry.h"

#include <QFile>
#include <QFileInfo>

struct RegistryKey::Private
{
    QString root = SimRegistry::rootFromEnvironment();
    SimRegistry registry{root};
    QString keyPath;
    QStringList enteredSubkeys;
    QString readsJournal;
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

    void journalRead(const QString &operation, const QString &valueName = QString()) const
    {
        if (readsJournal.isEmpty())
            return;
        QFile journal(readsJournal);
        if (!journal.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        QStringList fields = {operation,
                              (QStringList(keyPath) + enteredSubkeys).join(QLatin1Char('\\'))};
        if (!valueName.isEmpty())
            fields.append(valueName);
        journal.write((fields.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
    }
};

RegistryKey::RegistryKey(const QString &keyPath) : d(new Private)
{
    d->keyPath = keyPath;
    const QString readsJournal = d->root + QStringLiteral("/registry-reads");
    if (!d->root.isEmpty() && QFileInfo::exists(readsJournal))
        d->readsJournal = readsJournal;
}

RegistryKey::~RegistryKey() = default;

QStringList RegistryKey::subkeys() const
{
    d->journalRead(QStringLiteral("subkeys"));
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
    d->journalRead(QStringLiteral("values"));
    return SimRegistry::valueNames(d->currentKey());
}

QString RegistryKey::value(const QString &name) const
{
    return stringValue(name).value_or(QString());
}

std::optional<QString> RegistryKey::stringValue(const QString &name) const
{
    d->journalRead(QStringLiteral("value"), name);
    return SimRegistry::readStringValue(d->currentKey(), name);
}
