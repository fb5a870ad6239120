#pragma once

#include <QString>
#include <QStringList>

// Address classification and small text helpers shared by the whole tool.

// True when QHostAddress parses the text as an IPv4 address. QHostAddress
// simplifies its input first, so surrounding blanks are accepted.
bool isIPv4(const QString &text);

// True when QHostAddress parses the text as an IPv6 address (same leniency).
bool isIPv6(const QString &text);

// "true" or "false", for log lines.
QString boolToString(bool value);

// The entries that are not blank, unchanged, joined with the separator.
QString joinNonEmpty(const QStringList &list, const QString &separator);
