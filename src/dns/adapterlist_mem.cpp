// The native lister of the tests' in-memory machine, with the fault rules
// of its iphlpapi as the stand-in's: "fail" fails, "noop" lists nothing.
#include "adapterlist.h"

#include "memmachine.h"

NativeAdapterList listAdaptersNatively()
{
    MemMachine &machine = MemMachine::current();
    const QString action = faultActionIn(machine.faults.value(QStringLiteral("iphlpapi")),
                                         {QStringLiteral("GetAdaptersAddresses")});
    if (action == QLatin1String("fail") || machine.killed())
        return {{}, QStringLiteral("GetAdaptersAddresses failed with error 8")};
    return {action == QLatin1String("noop") ? QStringList() : listedAdapterGuids(machine),
            QString()};
}
