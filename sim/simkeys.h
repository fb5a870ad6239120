#pragma once

#include <QString>

// Registry key paths of a Windows machine that the simulation fills in and
// the stand-in programs read.
namespace simkeys {
extern const QString tcpipInterfaces;
extern const QString tcpip6Interfaces;
extern const QString networkConnections; // one subkey per adapter GUID
extern const QString adapterClass;       // one subkey per installed adapter
} // namespace simkeys
