#include "interfacedns.h"

#include <QUuid>
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
const ULONG dnsInterfaceSettingsVersion1 = 1;
const ULONG64 dnsSettingIpv6 = 0x0001;
const ULONG64 dnsSettingNameServer = 0x0002;

using SetFunction = DWORD(WINAPI *)(GUID, const DnsInterfaceSettings *);

} // namespace

SetInterfaceDns findSetInterfaceDnsSettings()
{
    // From the system directory alone; kept loaded for the process, since an
    // abandoned call may still run in it.
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
