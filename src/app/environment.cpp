#include "environment.h"

#include <QLoggingCategory>
#include <QProcessEnvironment>

namespace {

// Every type the tool logs, of every category: the rules of a qtlogging.ini
// come before these and so never decide. The tool writes no debug lines.
const QString loggingFilterRules = QStringLiteral("*.debug=false\n"
                                                  "*.info=true\n"
                                                  "*.warning=true\n"
                                                  "*.critical=true");

} // namespace

void ignoreQtConfiguration()
{
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("QT_"), Qt::CaseInsensitive))
            removeEnvironmentVariable(name);
    }
    QLoggingCategory::setFilterRules(loggingFilterRules);
}
