#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The registry of a simulated Windows machine: the directory
// ROOT/registry, with one directory per key ("\" in a key path becomes "/")
// and one regular file per value holding the value's text as UTF-8.
// Key and value names are matched ignoring letter case, as in Windows.
class SimRegistry
{
public:
    // ROOT as named by TARNWICK_SIM_ROOT; empty when the variable is unset.
    static QString rootFromEnvironment();

    explicit SimRegistry(const QString &root);

    // The directory of an existing key, or an empty string.
    QString findKey(const QString &keyPath) const;
    // The directory of an existing key below a key directory, or "".
    static QString findSubkey(const QString &keyDirectory, const QStringList &subkeyPath);
    // The directory of the key, created with its missing parents.
    QString createKey(const QString &keyPath) const;

    // Listings of a key directory, in ascending QString order; empty for "".
    static QStringList subkeys(const QString &keyDirectory);
    static QStringList valueNames(const QString &keyDirectory);
    // The value's text, or an empty string for a missing key or value.
    static QString readValue(const QString &keyDirectory, const QString &name);
    // The same, but nothing for a value that exists and cannot be read: an
    // entry of its name that is no readable file (a directory, say), as a
    // value of another type than a string is on Windows.
    static std::optional<QString> readStringValue(const QString &keyDirectory, const QString &name);
    // Replaces the value's text atomically, keeping the stored name's case.
    static bool writeValue(const QString &keyDirectory, const QString &name, const QString &text);

private:
    QString registryDirectory;
};
