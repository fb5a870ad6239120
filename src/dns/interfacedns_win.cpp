#include "interfacedns.h"

#include <QUuid>
#include <cstddef>
#include <windows.h>

namespace {

// DNS_INTERFACE_SETTINGS of netioapi.h, version 1, which MinGW-w64's
// headers lack: the layout, flags and separators of Microsoft's page on the
// structure (NameServer: servers separated by commas or blanks).
struct DnsInterfaceSettings
{
    ULONG Version;
    ULONG64 Flags;
    PWSTR Domain;
    PWSTR NameServer;
    PWSTR SearchList;
    ULONG RegistrationEnabled;
    ULONG RegisterAdapterName;
    ULONG EnableLLMNR;
    ULONG QueryAdapterName;
    PWSTR ProfileNameServer;
};
// A wrong declaration would hand Windows a NameServer it reads elsewhere:
// the layout of Microsoft's headers, 64-bit and 32-bit.
constexpr bool is64Bit = sizeof(void *) == 8;
static_assert(offsetof(DnsInterfaceSettings, Flags) == 8 &&
                  offsetof(DnsInterfaceSettings, NameServer) == (is64Bit ? 24 : 20) &&
                  offsetof(DnsInterfaceSettings, ProfileNameServer) == (is64Bit ? 56 : 44) &&
                  sizeof(DnsInterfaceSettings) == (is64Bit ? 64 : 48),
              "DNS_INTERFACE_SETTINGS as Windows lays it out");
const ULONG dnsInterfaceSettingsVersion1 = 1;
const ULONG64 dnsSettingIpv6 = 0x0001;
const ULONG64 dnsSettingNameServer = 0x0002;

using SetFunction = DWORD(WINAPI *)(GUID, const DnsInterfaceSettings *);

} // namespace

SetInterfaceDns findSetInterfaceDnsSettings()
{
    // iphlpapi.dll is an import of the tool, loaded before main ran, and this
    // returns that module whichever folder it came from: the flag protects
    // nothing here. What keeps a planted iphlpapi.dll out is the tool's
    // folder, which only administrators may write. Kept loaded for the
    // process, since an abandoned call may still run in it.
    HMODULE library = LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const auto function = library ? reinterpret_cast<SetFunction>(reinterpret_cast<void (*)()>(
                                        GetProcAddress(library, "SetInterfaceDnsSettings")))
                                  : nullptr;
    if (!function)
        return {};
    return [function](const QString &id, bool ipv6, const QString &servers) {
        const GUID guid = QUuid(id);
        std::wstring nameServer = servers.toStdWString();
        DnsInterfaceSettings settings = {};
        settings.Version = dnsInterfaceSettingsVersion1;
        settings.Flags = dnsSettingNameServer | (ipv6 ? dnsSettingIpv6 : 0);
        settings.NameServer = nameServer.data();
        return static_cast<unsigned long>(function(guid, &settings));
    };
}
