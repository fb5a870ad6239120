#include "standin.h"

#include "machinecommands.h"
#include "standinplatform.h"

#include <QFile>

void appendToJournal(const QString &root, const QString &name, const QStringList &arguments)
{
    const QStringList fields = QStringList(name) + arguments;
    appendToFile(root + QStringLiteral("/journal"),
                 (fields.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
}

int hang(const QString &root)
{
    for (int tenths = 0; tenths < 1200; ++tenths) {
        appendToFile(root + QStringLiteral("/heartbeat"), ".");
        pause(100);
    }
    return 0;
}

QString faultAction(const QString &root, const QString &name, const QStringList &arguments)
{
    QFile rules(root + QStringLiteral("/faults/") + name);
    if (!rules.open(QIODevice::ReadOnly))
        return QString();
    return faultActionIn(QString::fromUtf8(rules.readAll()).split(QLatin1Char('\n')), arguments);
}
