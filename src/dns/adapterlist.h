#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

// The adapters of the machine, by GUID, as its two listers report them:
// "wmic nic where ... get GUID", and GetAdaptersAddresses of iphlpapi.dll
// (the native lister), whose AdapterName is the adapter's GUID.

// The GUID an adapter name stands for, by the rule both listers share: a
// name that starts with "{" once blanks and carriage returns are trimmed,
// upper-cased; an empty string for any other name.
QString adapterGuidOfName(const QString &name);

// The adapter GUIDs of wmic's output, one line a name. The output is read up
// to its first NUL character: redirected, wmic may write UTF-16LE, with or
// without a byte order mark, so output that begins with that mark, or whose
// second byte is NUL (its first character is ASCII), is read so; any other as
// UTF-8, as which 8-bit output of ASCII GUIDs reads alike.
QSet<QString> parseAdapterGuids(const QByteArray &output);
// The adapter GUIDs among the native lister's names.
QSet<QString> adapterGuidsOfNames(const QStringList &names);

// What the native lister found.
struct NativeAdapterList
{
    QStringList names; // each adapter's AdapterName
    QString problem;   // why the call failed, for log lines; empty when it answered
};

// Lists every adapter, hidden ones included, through GetAdaptersAddresses:
// Windows' own (adapterlist_win.cpp), or the stand-in library of the
// simulated machine (adapterlist_sim.cpp). ERROR_NO_DATA answers with no
// names.
NativeAdapterList listAdaptersNatively();

// What both platforms share of that call.

// Windows' numbers of the results the listing tells apart; the simulated
// machine's stand-in returns the same.
namespace adapterAddressesResult {
constexpr unsigned long success = 0;
constexpr unsigned long bufferOverflow = 111; // ERROR_BUFFER_OVERFLOW
constexpr unsigned long noData = 232;         // ERROR_NO_DATA
} // namespace adapterAddressesResult

// GetAdaptersAddresses with every argument but the buffer bound: fills the
// buffer of *size bytes, or asks for a larger one (bufferOverflow, with the
// size it needs in *size).
using AdapterAddressesCall = std::function<unsigned long(void *buffer, unsigned long *size)>;
// The adapter names in a buffer that the call filled.
using AdapterNamesInBuffer = QStringList (*)(const void *buffer);

// Calls with a buffer of 15 KB, which holds the list of most machines, and
// again with the size the call asks for while adapters come and go between
// calls, up to four calls.
NativeAdapterList callGetAdaptersAddresses(const AdapterAddressesCall &call,
                                           AdapterNamesInBuffer namesIn);

// The AdapterName of each structure of the linked list that begins the
// buffer: IP_ADAPTER_ADDRESSES, or the stand-in's structure of that shape.
template <typename AdapterAddresses> QStringList adapterNamesIn(const void *buffer)
{
    QStringList names;
    for (auto adapter = static_cast<const AdapterAddresses *>(buffer); adapter;
         adapter = adapter->Next) {
        if (adapter->AdapterName)
            names.append(QString::fromLatin1(adapter->AdapterName));
    }
    return names;
}
