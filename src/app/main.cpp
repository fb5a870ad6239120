#include "dns.h"
#include "logging/logger.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

void printUsage()
{
    std::fputs("usage: tarnwick-dns vpn|user ENTRY... | tarnwick-dns reset"
               "  (ENTRY: {INTERFACE-GUID}@SERVER,SERVER,...)\n",
               stderr);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    Logger::instance();

    Dns dns(argc, argv);
    if (dns.isInvalid()) {
        printUsage();
        return -1;
    }
    return dns.run() ? 0 : -1;
}
