// Stand-in for iphlpapi.dll: GetAdaptersAddresses lists the adapters that
// the wmic stand-in lists, with the interface of Windows' own
// (adapteraddresses.h). Every call is journaled as "iphlpapi" and
// "GetAdaptersAddresses" and obeys ROOT/faults/iphlpapi: "fail" returns
// ERROR_NOT_ENOUGH_MEMORY, "noop" succeeds with no adapters (ERROR_NO_DATA,
// as Windows answers then), "crash" ends the calling process. The simulated
// machine has no hidden adapters, and the structures hold nothing the flags
// would leave out, so the flags change nothing.
#include "adapteraddresses.h"
#include "simregistry.h"
#include "standin.h"
#include "standinplatform.h"

#include <QList>
#include <cstring>

namespace {

const QString name = QStringLiteral("iphlpapi");
const QStringList call = {QStringLiteral("GetAdaptersAddresses")};

// Lays the list out as Windows does: the structures, then the names they
// point to. Asks for a larger buffer when this one cannot hold it all.
unsigned long fillBuffer(const QList<QByteArray> &names, SimAdapterAddresses *buffer,
                         unsigned long *size)
{
    unsigned long needed = names.size() * sizeof(SimAdapterAddresses);
    for (const QByteArray &adapterName : names)
        needed += adapterName.size() + 1;
    if (!buffer || *size < needed) {
        *size = needed;
        return simiphlpapi::errorBufferOverflow;
    }
    char *text = reinterpret_cast<char *>(buffer + names.size());
    for (int i = 0; i < names.size(); ++i) {
        buffer[i] = {sizeof(SimAdapterAddresses), i + 1 < names.size() ? buffer + i + 1 : nullptr,
                     text};
        std::memcpy(text, names.at(i).constData(), names.at(i).size() + 1);
        text += names.at(i).size() + 1;
    }
    return simiphlpapi::errorSuccess;
}

} // namespace

extern "C" __attribute__((visibility("default"))) unsigned long
GetAdaptersAddresses(unsigned long family, unsigned long /*flags*/, void * /*reserved*/,
                     SimAdapterAddresses *adapterAddresses, unsigned long *sizePointer)
{
    const QString root = SimRegistry::rootFromEnvironment();
    appendToJournal(root, name, call);
    const QString action = faultAction(root, name, call);
    if (action == QLatin1String("crash"))
        crash();
    if (action == QLatin1String("fail"))
        return simiphlpapi::errorNotEnoughMemory;
    if (!sizePointer || (family != simiphlpapi::afUnspec && family != simiphlpapi::afInet &&
                         family != simiphlpapi::afInet6))
        return simiphlpapi::errorInvalidParameter;

    QList<QByteArray> names;
    if (action != QLatin1String("noop")) {
        for (const QString &guid : listedAdapterGuids(MachineRegistry(root)))
            names.append(guid.toLatin1());
    }
    if (names.isEmpty())
        return simiphlpapi::errorNoData;
    return fillBuffer(names, adapterAddresses, sizePointer);
}
