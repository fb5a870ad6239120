#include "fileeffect.h"

#include "simregistry.h"

#include <QFile>
#include <QFileInfo>

#include <csignal>

EffectOutcome beforeFileEffect(FileEffect effect, const QString &path)
{
    if (effect != FileEffect::Replace)
        return EffectOutcome::Go;
    QFile rules(SimRegistry::rootFromEnvironment() + QStringLiteral("/faults/vendorfolder"));
    if (rules.open(QIODevice::ReadOnly) &&
        rules.readAll().split('\n').contains("kill " +
                                             QFile::encodeName(QFileInfo(path).fileName())))
        raise(SIGKILL);
    return EffectOutcome::Go;
}
