#include "statusrun.h"

#include "console.h"
#include "dnsstatus.h"
#include "elevation.h"
#include "store/dnsdatafile.h"
#include "store/runlock.h"
#include "store/vendorfolder.h"
#include "switchedinterfaces.h"
#include "utils/paths.h"

namespace {

const char statusWord[] = "status";
const char jsonOption[] = "--json";

// The warnings written so far, for the answer's "warnings".
QStringList &warningsWritten()
{
    static QStringList warnings;
    return warnings;
}

void warningsToStandardError(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtWarningMsg && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    warningsWritten().append(message.simplified());
    writeText(StandardStream::Error, QStringLiteral("warning: %1\n").arg(message.simplified()));
}

// The record as a run would read it, the switched interfaces decided as a
// run decides them.
RecordReading recordReading(DnsManager &manager, const DnsDataFile &dataFile)
{
    RecordReading record;
    record.hasRecord = dataFile.hasRecord();
    record.fallback = dataFile.sourceReason();
    record.vpnServers = dataFile.vpnServers();
    record.saved = dataFile.savedEntries();
    record.vpnIpv4 = dataFile.vpnIpv4();
    record.vpnIpv6 = dataFile.vpnIpv6();
    record.switched = switchedIds(manager, dataFile);
    record.mayHideSwitch = dataFile.source() == DnsDataFile::Source::Damaged;
    QStringList leftAlone;
    const QList<InterfaceEntry> targets = entriesToSwitch(manager, record.switched, &leftAlone);
    for (const InterfaceEntry &entry : switchableEntries(manager)) {
        if (!findEntry(targets, entry.id))
            record.pastBound.append(entry.id);
    }
    return record;
}

// Reads the record, then lists the interfaces, as a run would.
DnsStatus readWithFolder(const VendorFolder &folder)
{
    // A folder a run would make afresh holds no record.
    std::unique_ptr<DnsDataFile> dataFile;
    if (folder.isUsable()) {
        dataFile = std::make_unique<DnsDataFile>(folder);
        if (!dataFile->isReadable())
            return unknownStatus(QStringLiteral("the data file cannot be read"));
    }
    DnsManager manager;
    if (dataFile)
        manager.setVpnAdapterCandidates({dataFile->vpnAdapter()});
    manager.loadInterfaces();
    if (!manager.adaptersListed())
        return unknownStatus(QStringLiteral("no adapter lister answered"));
    const RecordReading record = dataFile ? recordReading(manager, *dataFile) : RecordReading();
    return assessStatus(manager.interfaces(), manager.leftOut(), manager.partlyReadIds(), record);
}

DnsStatus readStatus()
{
    if (!isElevated())
        return unknownStatus(QStringLiteral("not elevated: run it as an administrator"));
    const VendorFolder folder(vendorFolderPath(), VendorFolder::ReadOnly);
    if (!folder.isUsable() && !folder.isAbsent())
        return unknownStatus(QStringLiteral("no usable vendor folder"));
    // Held, so that a status asked for while a run works reports that run's
    // outcome; without a lock file no run is at work.
    RunLock runLock(folder);
    if (folder.isUsable() && runLock.takeIfFileExists(statusLockWaitMs) == RunLock::NotTaken)
        return unknownStatus(QStringLiteral("another run still holds the run lock"));
    return readWithFolder(folder);
}

} // namespace

bool asksForStatus(int argc, char **argv)
{
    return argc >= 2 && qstrcmp(argv[1], statusWord) == 0;
}

void sendWarningsToStandardError()
{
    warningsWritten().clear();
    qInstallMessageHandler(warningsToStandardError);
}

int runStatus(int argc, char **argv)
{
    const bool json = argc == 3 && qstrcmp(argv[2], jsonOption) == 0;
    if (argc > 3 || (argc == 3 && !json))
        return -1;
    DnsStatus status = readStatus();
    status.warnings = warningsWritten();
    if (json)
        writeText(StandardStream::Output, QString::fromUtf8(formatStatusJson(status)));
    else
        writeText(StandardStream::Output, formatStatusText(status));
    return status.state;
}
