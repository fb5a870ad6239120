#include "simkeys.h"

namespace simkeys {
const QString tcpipInterfaces = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces");
const QString tcpip6Interfaces = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters\\Interfaces");
const QString networkConnections =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-"
                   "E325-11CE-BFC1-08002BE10318}");
const QString adapterClass =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-"
                   "11CE-BFC1-08002BE10318}");
} // namespace simkeys
