#pragma once

#include <QString>

// The warning of a failed step of the direct flush: "Dns: <text>: <error>".
void logFlushFailure(const QString &text, unsigned long errorNumber);
