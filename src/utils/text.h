#pragma once

#include <QString>
#include <QStringList>

// Address classification and small text helpers shared by the whole tool.

// True when QHostAddress parses the text as an IPv4 address. QHostAddress
// simplifies its input first, so surrounding blanks are accepted.
bool isIPv4(const QString &text);

// True when QHostAddress parses the text as an IPv6 address (same leniency).
bool isIPv6(const QString &text);

// True only for an address in its plain form: IPv4 as four decimal numbers
// 0-255 without leading zeros, IPv6 as inet_pton reads it (no scope id, no
// brackets, no blanks). QHostAddress also takes "127.1", "010.0.0.1" (which
// other parsers read as another address) or "fd00::1%<any text>"; such texts
// must never reach netsh's command line or the data file.
bool isPlainAddress(const QString &text);

// The one text form of a plain address (isPlainAddress): IPv4 as it is,
// IPv6 in the canonical form of RFC 5952 (lower case, no leading zeros, the
// longest run of two or more zero groups, the first of equal ones, as "::",
// an IPv4-mapped address as ::ffff:a.b.c.d). Windows may store a server in
// its own form of the address, so servers leave the tool and are compared in
// this one. Any other text is returned unchanged.
QString canonicalAddress(const QString &text);

// The text for a log line, cut to its first `maxLength` characters when
// longer, so that hostile input cannot blow up the log: "<start>... (N
// characters)".
QString boundedForLog(const QString &text, int maxLength = 256);

// "true" or "false", for log lines.
QString boolToString(bool value);

// The entries that are not blank, unchanged, joined with the separator.
QString joinNonEmpty(const QStringList &list, const QString &separator);
