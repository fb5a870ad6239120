#pragma once

// Flushes the system's DNS resolver cache through DnsFlushResolverCache of
// dnsapi.dll. True when the function was called and reported success; every
// failure is logged as a "Dns: ..." warning with the system error number.
bool flushResolverCache();
