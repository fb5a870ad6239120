// A build of the dnsapi stand-in that lacks DnsFlushResolverCache, for tests
// of a library that loads but does not offer the function.
extern "C" __attribute__((visibility("default"))) int DnsapiStandinWithoutFlush()
{
    return 0;
}
