// tarnwick-replay JOURNAL: runs the child commands of a journal in order,
// each awaited and its output read, and makes its SetInterfaceDnsSettings
// calls with the same arguments, in the same order, and nothing else.
// Started inside a simulated machine it costs what the child processes and
// the native DNS calls of a run cost: the floor that the benchmark holds the
// tool against.
#include "../sim/interfacednssettings.h"

#include <QFile>
#include <QLibrary>
#include <QProcess>
#include <QStringList>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// "dnsapi" and "iphlpapi" lines record calls of libraries, not processes.
bool isChildCommand(const QStringList &fields)
{
    return !fields.isEmpty() && fields.first() != QLatin1String("dnsapi") &&
           fields.first() != QLatin1String("iphlpapi");
}

// iphlpapi, SetInterfaceDnsSettings, the GUID, ipv4 or ipv6, the servers.
bool isDnsSettingsCall(const QStringList &fields)
{
    return fields.size() == 5 && fields.at(0) == QLatin1String("iphlpapi") &&
           fields.at(1) == QLatin1String("SetInterfaceDnsSettings");
}

// The machine's stand-in, looked up at the first call the journal holds.
SimSetInterfaceDnsSettings findSetInterfaceDnsSettings()
{
    QLibrary library(QFile::decodeName(qgetenv("TARNWICK_SIM_ROOT")) +
                     QStringLiteral("/lib/libiphlpapi.so"));
    return reinterpret_cast<SimSetInterfaceDnsSettings>(library.resolve("SetInterfaceDnsSettings"));
}

// Makes the call as the tool does; what it returns is the tool's concern,
// as is the exit code of a child command.
void setInterfaceDnsSettings(SimSetInterfaceDnsSettings function, const QStringList &fields)
{
    const QUuid uuid(fields.at(2));
    SimGuid guid = {uuid.data1, uuid.data2, uuid.data3, {}};
    std::copy(std::begin(uuid.data4), std::end(uuid.data4), guid.data4);
    std::u16string nameServer = fields.at(4).toStdU16String();
    const bool ipv6 = fields.at(3) == QLatin1String("ipv6");
    SimDnsInterfaceSettings settings = {};
    settings.version = simdnssettings::version1;
    settings.flags = simdnssettings::nameServer | (ipv6 ? simdnssettings::ipv6 : 0);
    settings.nameServer = nameServer.data();
    function(guid, &settings);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: tarnwick-replay JOURNAL\n", stderr);
        return 2;
    }
    QFile journal(QFile::decodeName(argv[1]));
    if (!journal.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tarnwick-replay: cannot read %s\n", argv[1]);
        return 1;
    }
    const QStringList lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'));
    SimSetInterfaceDnsSettings setDnsSettings = nullptr;
    for (const QString &line : lines) {
        QStringList fields = line.split(QLatin1Char('\t'));
        if (line.isEmpty())
            continue;
        if (isDnsSettingsCall(fields)) {
            if (!setDnsSettings)
                setDnsSettings = findSetInterfaceDnsSettings();
            if (!setDnsSettings) {
                std::fputs("tarnwick-replay: this machine has no SetInterfaceDnsSettings\n",
                           stderr);
                return 1;
            }
            setInterfaceDnsSettings(setDnsSettings, fields);
            continue;
        }
        if (!isChildCommand(fields))
            continue;
        QProcess process;
        process.start(fields.takeFirst(), fields, QIODevice::ReadWrite);
        // As the tool does: wmic answers only once its input has ended.
        process.closeWriteChannel();
        process.waitForFinished(-1);
        process.readAllStandardOutput();
    }
    return 0;
}
