// Stand-in for dnsapi.dll: DnsFlushResolverCache journals its call and
// succeeds, unless ROOT/faults/dnsapi holds a "fail" rule.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string simRoot()
{
    const char *root = std::getenv("TARNWICK_SIM_ROOT");
    return root ? root : "";
}

void journalCall(const std::string &root)
{
    if (FILE *journal = std::fopen((root + "/journal").c_str(), "a")) {
        std::fputs("dnsapi\tDnsFlushResolverCache\n", journal);
        std::fclose(journal);
    }
}

// The call has no arguments, so only rules without a TEXT apply to it.
bool failureRequested(const std::string &root)
{
    FILE *rules = std::fopen((root + "/faults/dnsapi").c_str(), "r");
    if (!rules)
        return false;
    char line[512];
    bool fail = false;
    while (std::fgets(line, sizeof line, rules)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0' || std::strchr(line, ' ') != nullptr)
            continue;
        fail = std::strcmp(line, "fail") == 0;
        break;
    }
    std::fclose(rules);
    return fail;
}

} // namespace

extern "C" __attribute__((visibility("default"))) unsigned int DnsFlushResolverCache()
{
    const std::string root = simRoot();
    journalCall(root);
    if (failureRequested(root)) {
        errno = EIO;
        return 0;
    }
    return 1;
}
