#include "dllsearch.h"
#include "dns.h"
#include "environment.h"
#include "logging/logger.h"
#include "logging/logline.h"
#include "statusrun.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

void printUsage()
{
    std::fputs("usage: tarnwick-dns vpn|user ENTRY... | tarnwick-dns reset"
               " | tarnwick-dns status [--json]  (ENTRY: {INTERFACE-GUID}@SERVER,SERVER,...)\n",
               stderr);
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything else can load a DLL by name.
    const unsigned long dllSearchError = limitDllSearchToSystemDirectory();
    ignoreQtConfiguration();

    QCoreApplication application(argc, argv);
    // Known before the logger starts, which would make and repair the vendor
    // folder: the status mode changes nothing.
    const bool status = asksForStatus(argc, argv);
    if (status)
        sendWarningsToStandardError();
    else
        Logger::instance();
    if (dllSearchError != 0) {
        logWarning(QStringLiteral("Dns"),
                   QStringLiteral("DLL search not limited to the system directory (error %1)")
                       .arg(dllSearchError));
    }
    if (status) {
        const int exitCode = runStatus(argc, argv);
        if (exitCode < 0)
            printUsage();
        return exitCode;
    }

    Dns dns(argc, argv);
    if (dns.isInvalid()) {
        printUsage();
        return -1;
    }
    return dns.run() ? 0 : -1;
}
