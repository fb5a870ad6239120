#pragma once

#include <QStringList>

// Checks that there are as many lines as patterns and that each line matches
// its pattern (a whole-line regular expression).
void verifyLinePatterns(const QStringList &lines, const QStringList &patterns);
