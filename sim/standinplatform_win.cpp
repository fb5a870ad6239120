// The stand-ins under Wine: the registry is Windows' own, read and changed
// through the Win32 API in its 64-bit view, as the tool reads it. Written
// apart from the tool's own registry access on purpose: the stand-ins play
// the system's part, against which that access is tested.
#include "standinplatform.h"

#include <QDir>
#include <QFileInfo>
#include <QVector>

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

namespace {

const QString machineHive = QStringLiteral("HKEY_LOCAL_MACHINE\\");

// An open key below HKEY_LOCAL_MACHINE, closed when it goes.
class OpenKey
{
public:
    OpenKey(const QString &keyPath, REGSAM access)
    {
        if (!keyPath.startsWith(machineHive, Qt::CaseInsensitive))
            return;
        const std::wstring below = keyPath.mid(machineHive.size()).toStdWString();
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, below.c_str(), 0, access | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS)
            key = nullptr;
    }
    ~OpenKey()
    {
        if (key)
            RegCloseKey(key);
    }
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;

    HKEY handle() const { return key; }

private:
    HKEY key = nullptr;
};

} // namespace

MachineRegistry::MachineRegistry(const QString &root) : root(root) {}

bool MachineRegistry::hasKey(const QString &keyPath) const
{
    return OpenKey(keyPath, KEY_READ).handle() != nullptr;
}

QStringList MachineRegistry::subkeys(const QString &keyPath) const
{
    const OpenKey key(keyPath, KEY_READ);
    QStringList names;
    if (!key.handle())
        return names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key.handle(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.append(QString::fromWCharArray(name, int(length)));
    }
    return names;
}

QString MachineRegistry::value(const QString &keyPath, const QString &name) const
{
    const OpenKey key(keyPath, KEY_READ);
    const std::wstring valueName = name.toStdWString();
    DWORD type = 0;
    DWORD size = 0;
    if (!key.handle() ||
        RegQueryValueExW(key.handle(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return QString();
    QVector<wchar_t> text(int(size / sizeof(wchar_t)) + 1, L'\0');
    if (RegQueryValueExW(key.handle(), valueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE *>(text.data()), &size) != ERROR_SUCCESS)
        return QString();
    return QString::fromWCharArray(text.constData());
}

bool MachineRegistry::setValue(const QString &keyPath, const QString &name,
                               const QString &text) const
{
    const OpenKey key(keyPath, KEY_SET_VALUE);
    const std::wstring valueName = name.toStdWString();
    const std::wstring data = text.toStdWString();
    return key.handle() &&
           RegSetValueExW(key.handle(), valueName.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE *>(data.c_str()),
                          DWORD((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

QStringList standinCommandLine(int, char **)
{
    // The installed name (WMIC.exe, netsh.exe, ...) tells which command to act.
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    QStringList words{QFileInfo(QString::fromWCharArray(path, int(length))).baseName().toLower()};
    // The arguments as the caller passed them, in full Unicode.
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; i < count; ++i)
        words.append(QString::fromWCharArray(arguments[i]));
    LocalFree(arguments);
    return words;
}

bool appendToFile(const QString &path, const QByteArray &bytes)
{
    // Append access only: Windows puts every write at the end of the file,
    // where Qt's append mode would seek there once, at opening. A sharing
    // clash with another stand-in's open is waited out.
    const QString nativePath = QDir::toNativeSeparators(path);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const HANDLE file =
            CreateFileW(reinterpret_cast<LPCWSTR>(nativePath.utf16()), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            pause(10);
            continue;
        }
        DWORD written = 0;
        const bool done =
            WriteFile(file, bytes.constData(), DWORD(bytes.size()), &written, nullptr) &&
            written == DWORD(bytes.size());
        CloseHandle(file);
        return done;
    }
    return false;
}

void writeToStandardOutput(const QByteArray &bytes)
{
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void pause(int ms)
{
    Sleep(DWORD(ms));
}

void crash()
{
    // An access violation's status, as a crashed program ends with; raising a
    // real one would start Wine's debugger.
    TerminateProcess(GetCurrentProcess(), 0xC0000005);
    ExitProcess(0xC0000005);
}
