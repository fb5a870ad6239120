#include "linematch.h"

#include <QRegularExpression>
#include <QtTest>

void verifyLinePatterns(const QStringList &lines, const QStringList &patterns)
{
    QCOMPARE(lines.size(), patterns.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(patterns.at(i)));
        QVERIFY2(pattern.match(lines.at(i)).hasMatch(),
                 qPrintable(QStringLiteral("line %1: %2").arg(i).arg(lines.at(i))));
    }
}
