#pragma once

#include <QString>

enum class StandardStream
{
    Output,
    Error
};

// Writes `text` to standard output or error whole: to a console as UTF-16
// through WriteConsoleW on Windows, so that connection names outside ASCII
// show as they are; otherwise (a pipe, a file, the simulated machine) as
// UTF-8 without a byte order mark.
void writeText(StandardStream stream, const QString &text);
