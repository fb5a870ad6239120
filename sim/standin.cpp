#include "standin.h"

#include "simkeys.h"
#include "standinplatform.h"

#include <QFile>
#include <QTextStream>

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
    const QString joined = arguments.join(QLatin1Char(' '));
    QTextStream in(&rules);
    QString rule;
    while (in.readLineInto(&rule)) {
        if (rule.trimmed().isEmpty())
            continue;
        const int blank = rule.indexOf(QLatin1Char(' '));
        const QString text = blank < 0 ? QString() : rule.mid(blank + 1);
        if (text.isEmpty() || joined.contains(text))
            return blank < 0 ? rule : rule.left(blank);
    }
    return QString();
}

QStringList listedAdapterGuids(const MachineRegistry &registry)
{
    QStringList guids;
    for (const QString &subkey : registry.subkeys(simkeys::networkConnections))
        guids.append(subkey.toUpper());
    return guids;
}
