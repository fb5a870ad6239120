#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// Read-only access to one registry key, for the span of one operation.
// A missing key behaves as a key without subkeys or values, a missing value
// reads as the empty text, and every read shows the registry as it is now.
class RegistryKey
{
public:
    // keyPath begins with "HKEY_LOCAL_MACHINE\".
    explicit RegistryKey(const QString &keyPath);
    ~RegistryKey();
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;

    // Subkeys of the current key, in ascending order of their names.
    QStringList subkeys() const;
    // Enters a subkey of the current key; leave() goes back up.
    void enter(const QString &subkey);
    void leave();
    // Value names of the current key.
    QStringList valueNames() const;
    // A string value of the current key, empty when it is missing or cannot
    // be read.
    QString value(const QString &name) const;
    // The same, but nothing for a value that exists and cannot be read as a
    // string: a read that fails other than for a missing value, or a value
    // of another type. Such a value is not the empty text.
    std::optional<QString> stringValue(const QString &name) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
