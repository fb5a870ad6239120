#pragma once

#include <cstdint>

// SetInterfaceDnsSettings of the stand-in iphlpapi (iphlpapi.cpp), with the
// interface of Windows' own (netioapi.h): the interface's GUID by value and
// a DNS_INTERFACE_SETTINGS of version 1, its texts in UTF-16.

struct SimGuid
{
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

struct SimDnsInterfaceSettings
{
    std::uint32_t version;
    std::uint64_t flags;
    char16_t *domain;
    char16_t *nameServer;
    char16_t *searchList;
    std::uint32_t registrationEnabled;
    std::uint32_t registerAdapterName;
    std::uint32_t enableLlmnr;
    std::uint32_t queryAdapterName;
    char16_t *profileNameServer;
};

// SetInterfaceDnsSettings(Interface, Settings)
using SimSetInterfaceDnsSettings = unsigned long (*)(SimGuid interface,
                                                     const SimDnsInterfaceSettings *settings);

// Windows' numbers.
namespace simdnssettings {
constexpr std::uint32_t version1 = 1;
constexpr std::uint64_t ipv6 = 0x1;
constexpr std::uint64_t nameServer = 0x2;
constexpr unsigned long errorNotFound = 1168;
} // namespace simdnssettings
