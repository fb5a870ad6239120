#pragma once

// GetAdaptersAddresses of the stand-in iphlpapi (iphlpapi.cpp), with the
// interface of Windows' own: the same arguments, result numbers and buffer
// contract, and structures that begin as IP_ADAPTER_ADDRESSES does up to
// AdapterName, the one member the stand-in fills in besides the link.

struct SimAdapterAddresses
{
    unsigned long long Alignment; // Length and IfIndex on Windows
    SimAdapterAddresses *Next;
    char *AdapterName;
};

// GetAdaptersAddresses(Family, Flags, Reserved, AdapterAddresses, SizePointer)
using SimGetAdaptersAddresses = unsigned long (*)(unsigned long family, unsigned long flags,
                                                  void *reserved,
                                                  SimAdapterAddresses *adapterAddresses,
                                                  unsigned long *sizePointer);

// Windows' numbers.
namespace simiphlpapi {
constexpr unsigned long afUnspec = 0;
constexpr unsigned long afInet = 2;
constexpr unsigned long afInet6 = 23;
constexpr unsigned long errorSuccess = 0;
constexpr unsigned long errorNotEnoughMemory = 8;
constexpr unsigned long errorInvalidParameter = 87;
constexpr unsigned long errorBufferOverflow = 111;
constexpr unsigned long errorNoData = 232;
} // namespace simiphlpapi
