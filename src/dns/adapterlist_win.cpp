// The native lister on Windows: GetAdaptersAddresses of iphlpapi.dll, an
// import of the tool as of Qt Network. Imports are found by the standard
// search, which begins in the tool's own folder: that this is the system's
// iphlpapi.dll rests on the deployable folder being writable by
// administrators only.
#include "adapterlist.h"

// winsock2.h before windows.h, as iphlpapi.h needs it.
#include <winsock2.h>

#include <iphlpapi.h>
#include <windows.h>

static_assert(adapterAddressesResult::success == ERROR_SUCCESS &&
                  adapterAddressesResult::bufferOverflow == ERROR_BUFFER_OVERFLOW &&
                  adapterAddressesResult::noData == ERROR_NO_DATA,
              "the listing's result numbers are Windows' own");

namespace {

// Hidden adapters too, as wmic lists them; none of the addresses, servers
// and names that the listing does not read.
const ULONG listingFlags = GAA_FLAG_INCLUDE_ALL_INTERFACES | GAA_FLAG_SKIP_UNICAST |
                           GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;

} // namespace

NativeAdapterList listAdaptersNatively()
{
    return callGetAdaptersAddresses(
        [](void *buffer, unsigned long *size) {
            return GetAdaptersAddresses(AF_UNSPEC, listingFlags, nullptr,
                                        static_cast<PIP_ADAPTER_ADDRESSES>(buffer), size);
        },
        adapterNamesIn<IP_ADAPTER_ADDRESSES>);
}
