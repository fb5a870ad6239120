#include "console.h"
#include "dllsearch.h"
#include "dns.h"
#include "dnsstatus.h"
#include "elevation.h"
#include "environment.h"
#include "logging/logger.h"
#include "logging/logline.h"
#include "processend.h"
#include "statusrun.h"
#include "utils/boundedcall.h"

#include <QCoreApplication>

namespace {

const char usage[] = "usage: tarnwick-dns vpn|user ENTRY... | tarnwick-dns reset"
                     " | tarnwick-dns status [--json] | tarnwick-dns --help|--version"
                     "  (ENTRY: {INTERFACE-GUID}@SERVER,SERVER,...)\n";

// Through the same stream as every other line, so that lines keep their
// order where the C library buffers standard error (a pipe on Windows).
void printUsage()
{
    writeText(StandardStream::Error, QString::fromLatin1(usage));
}

// The answer to a lone "--help" or "--version", printed before anything
// else runs: no folder, no log. False for any other command line.
bool answeredQuestion(int argc, char **argv)
{
    if (argc != 2)
        return false;
    if (qstrcmp(argv[1], "--version") == 0) {
        // The first line alone is what callers compare.
        const QString commit = QStringLiteral(TARNWICK_COMMIT);
        writeText(StandardStream::Output,
                  QStringLiteral("tarnwick-dns " TARNWICK_VERSION "\n") +
                      (commit.isEmpty() ? QString() : QStringLiteral("commit %1\n").arg(commit)));
        return true;
    }
    if (qstrcmp(argv[1], "--help") != 0)
        return false;
    writeText(StandardStream::Output,
              QString::fromLatin1(usage) +
                  QStringLiteral("  vpn     switch every interface to the last IPv4 and IPv6 "
                                 "server of the entries\n"
                                 "  user    give the named interfaces the servers of their "
                                 "entries\n"
                                 "  reset   give every switched interface its own servers back\n"
                                 "  status  tell what is switched; exit code 0 none, 10 "
                                 "switched, 11 partial, 12 unknown\n"
                                 "vpn, user and reset exit with 0 when done, 12 when they "
                                 "could change nothing, 255 for an invalid command line\n"
                                 "log: C:\\ProgramData\\Tarnwick\\tarnwick-dns.log\n"));
    return true;
}

// The end of a run that did its work, status included. Where a call into a
// system library was abandoned and may still run, the process terminates
// itself with the same exit code rather than end the ordinary way, which
// could hang the caller with it (processend.h). Its byte of "dns.alive" was
// unlocked and its data files closed as the run ended; every log line
// reached the file as it was written.
int ended(int exitCode)
{
    if (anyBoundedCallRunning()) {
        logWarning(QStringLiteral("Dns"), QStringLiteral("A system call has not returned, the "
                                                         "process ends without its clean-up"));
        terminateProcess(exitCode);
    }
    return exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything else can load a DLL by name.
    const unsigned long dllSearchError = limitDllSearchToSystemDirectory();
    if (answeredQuestion(argc, argv))
        return 0;
    ignoreQtConfiguration();

    QCoreApplication application(argc, argv);
    // Known before the logger starts, which would make and repair the vendor
    // folder: the status mode changes nothing. Without elevation no other
    // mode can do anything, and says so in one line.
    const bool status = asksForStatus(argc, argv);
    const bool elevated = status || isElevated();
    if (status)
        sendWarningsToStandardError();
    else if (elevated)
        Logger::instance();
    else
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    if (dllSearchError != 0) {
        logWarning(QStringLiteral("Dns"),
                   QStringLiteral("DLL search not limited to the system directory (error %1)")
                       .arg(dllSearchError));
    }
    if (status) {
        const int exitCode = runStatus(argc, argv);
        if (exitCode < 0)
            printUsage();
        return ended(exitCode);
    }

    Dns dns(argc, argv);
    if (dns.isInvalid()) {
        printUsage();
        writeText(StandardStream::Error, dns.invalidItemsLine());
        return -1;
    }
    // A run that changed nothing for a cause the status calls unknown exits
    // as that status does: a caller must not take it for done.
    if (!elevated) {
        writeText(StandardStream::Error, QStringLiteral("tarnwick-dns: not elevated, DNS servers "
                                                        "left unchanged: run it as an "
                                                        "administrator\n"));
        return DnsStatus::Unknown;
    }
    const Dns::Outcome outcome = dns.run();
    if (outcome == Dns::Outcome::Unchanged) {
        writeText(StandardStream::Error, QStringLiteral("tarnwick-dns: %1, DNS servers left "
                                                        "unchanged: see the log\n")
                                             .arg(dns.unchangedReason()));
    }
    return ended(Dns::exitCodeOf(outcome));
}
