// The Windows registry through the Win32 API, strictly read-only. QSettings
// is not used here: in its native format it opens every key it touches with
// write access, and so creates the missing ones, which the tool, run
// elevated, would leave behind below HKEY_LOCAL_MACHINE.
#include "registry.h"

#include <algorithm>
#include <vector>

#include <windows.h>

namespace {

const QString localMachinePrefix = QStringLiteral("HKEY_LOCAL_MACHINE\\");

// Longest key name and longest value name the registry allows, in characters.
const DWORD maxKeyNameLength = 255;
const DWORD maxValueNameLength = 16383;

LPCWSTR wide(const QString &text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

// A key path below HKEY_LOCAL_MACHINE opened for reading in the 64-bit view,
// or no key when it is missing, cannot be read or lies below another root;
// closed at the end of its scope. Opened anew for every read, so that each
// read shows the registry as it is now.
class OpenKey
{
public:
    explicit OpenKey(const QString &keyPath)
    {
        if (!keyPath.startsWith(localMachinePrefix, Qt::CaseInsensitive))
            return;
        status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(keyPath.mid(localMachinePrefix.size())), 0,
                               KEY_READ | KEY_WOW64_64KEY, &handle);
        if (status != ERROR_SUCCESS)
            handle = nullptr;
    }
    ~OpenKey()
    {
        if (handle)
            RegCloseKey(handle);
    }
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;

    HKEY handle = nullptr;
    // Why there is no handle: ERROR_FILE_NOT_FOUND for a missing key.
    LSTATUS status = ERROR_FILE_NOT_FOUND;
};

// The names that enumerateOne(index, buffer, &length) reports on the open key
// for the indexes 0, 1, ... until it reports anything but success
// (ERROR_NO_MORE_ITEMS at the end); none without a key. capacity is the
// longest name plus its terminating NUL.
template <typename EnumerateOne>
QStringList enumerateNames(const OpenKey &key, DWORD capacity, EnumerateOne enumerateOne)
{
    QStringList names;
    if (!key.handle)
        return names;
    std::vector<wchar_t> buffer(capacity);
    for (DWORD index = 0;; ++index) {
        DWORD length = capacity;
        if (enumerateOne(index, buffer.data(), &length) != ERROR_SUCCESS)
            return names;
        names.append(QString::fromWCharArray(buffer.data(), int(length)));
    }
}

// A REG_SZ or REG_EXPAND_SZ value (the latter unexpanded) up to its first NUL;
// empty for a missing value, nothing for a value of any other type or one
// that cannot be read.
std::optional<QString> readString(HKEY key, const QString &name)
{
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    std::vector<wchar_t> data;
    LSTATUS status;
    // ERROR_MORE_DATA gives the size needed; the value may grow between calls.
    do {
        data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = DWORD(data.size() * sizeof(wchar_t));
        status = RegQueryValueExW(key, wide(name), nullptr, &type,
                                  reinterpret_cast<LPBYTE>(data.data()), &bytes);
    } while (status == ERROR_MORE_DATA);
    if (status == ERROR_FILE_NOT_FOUND)
        return QString();
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    const QString text = QString::fromWCharArray(data.data(), int(bytes / sizeof(wchar_t)));
    return text.left(text.indexOf(QChar(0)));
}

} // namespace

struct RegistryKey::Private
{
    QString keyPath;
    QStringList enteredSubkeys;

    QString currentPath() const
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
    const OpenKey key(d->currentPath());
    QStringList names =
        enumerateNames(key, maxKeyNameLength + 1, [&](DWORD index, wchar_t *name, DWORD *length) {
            return RegEnumKeyExW(key.handle, index, name, length, nullptr, nullptr, nullptr,
                                 nullptr);
        });
    // Sorted here so that every caller can rely on ascending order.
    std::sort(names.begin(), names.end());
    return names;
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
    const OpenKey key(d->currentPath());
    QStringList names =
        enumerateNames(key, maxValueNameLength + 1, [&](DWORD index, wchar_t *name, DWORD *length) {
            return RegEnumValueW(key.handle, index, name, length, nullptr, nullptr, nullptr,
                                 nullptr);
        });
    // The key's unnamed default value is no value name.
    names.removeAll(QString());
    return names;
}

QString RegistryKey::value(const QString &name) const
{
    return stringValue(name).value_or(QString());
}

std::optional<QString> RegistryKey::stringValue(const QString &name) const
{
    const OpenKey key(d->currentPath());
    if (key.handle)
        return readString(key.handle, name);
    // A missing key holds no value; one that cannot be opened may hold one.
    return key.status == ERROR_FILE_NOT_FOUND ? std::optional<QString>(QString()) : std::nullopt;
}
