#include "simregistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

namespace {

QStringList sortedEntries(const QString &directory, QDir::Filters filters)
{
    if (directory.isEmpty())
        return {};
    QStringList names = QDir(directory).entryList(filters | QDir::NoDotAndDotDot | QDir::Hidden);
    std::sort(names.begin(), names.end());
    return names;
}

// The stored name in the directory that equals the wanted one ignoring case.
QString matchingEntry(const QString &directory, const QString &wanted, QDir::Filters filters)
{
    // Most lookups use the stored case: spare them the directory listing.
    const QFileInfo exact(directory + QLatin1Char('/') + wanted);
    const bool kindWanted =
        ((filters & QDir::Dirs) && exact.isDir()) || ((filters & QDir::Files) && exact.isFile());
    if (!wanted.isEmpty() && kindWanted)
        return wanted;
    const QStringList names = sortedEntries(directory, filters);
    const auto found = std::find_if(names.begin(), names.end(), [&](const QString &name) {
        return name.compare(wanted, Qt::CaseInsensitive) == 0;
    });
    return found == names.end() ? QString() : *found;
}

QStringList keyPathComponents(const QString &keyPath)
{
    return keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

} // namespace

QString SimRegistry::rootFromEnvironment()
{
    return QString::fromLocal8Bit(qgetenv("TARNWICK_SIM_ROOT"));
}

SimRegistry::SimRegistry(const QString &root)
    : registryDirectory(root.isEmpty() ? QString() : root + QStringLiteral("/registry"))
{
}

QString SimRegistry::findKey(const QString &keyPath) const
{
    if (registryDirectory.isEmpty())
        return QString();
    return findSubkey(registryDirectory, keyPathComponents(keyPath));
}

QString SimRegistry::findSubkey(const QString &keyDirectory, const QStringList &subkeyPath)
{
    QString directory = keyDirectory;
    for (const QString &component : subkeyPath) {
        const QString stored = matchingEntry(directory, component, QDir::Dirs);
        if (stored.isEmpty())
            return QString();
        directory += QLatin1Char('/') + stored;
    }
    return QFileInfo(directory).isDir() ? directory : QString();
}

QString SimRegistry::createKey(const QString &keyPath) const
{
    QString directory = registryDirectory;
    for (const QString &component : keyPathComponents(keyPath)) {
        const QString stored = matchingEntry(directory, component, QDir::Dirs);
        directory += QLatin1Char('/') + (stored.isEmpty() ? component : stored);
    }
    QDir().mkpath(directory);
    return directory;
}

QStringList SimRegistry::subkeys(const QString &keyDirectory)
{
    return sortedEntries(keyDirectory, QDir::Dirs);
}

QStringList SimRegistry::valueNames(const QString &keyDirectory)
{
    return sortedEntries(keyDirectory, QDir::Files);
}

QString SimRegistry::readValue(const QString &keyDirectory, const QString &name)
{
    return readStringValue(keyDirectory, name).value_or(QString());
}

std::optional<QString> SimRegistry::readStringValue(const QString &keyDirectory,
                                                    const QString &name)
{
    const QString stored = matchingEntry(keyDirectory, name, QDir::Files | QDir::Dirs);
    if (stored.isEmpty())
        return QString();
    QFile file(keyDirectory + QLatin1Char('/') + stored);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

bool SimRegistry::writeValue(const QString &keyDirectory, const QString &name, const QString &text)
{
    const QString stored = matchingEntry(keyDirectory, name, QDir::Files);
    QSaveFile file(keyDirectory + QLatin1Char('/') + (stored.isEmpty() ? name : stored));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}
