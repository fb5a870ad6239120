#include "fileeffect.h"

#include "memmachine.h"

EffectOutcome beforeFileEffect(FileEffect effect, const QString &path)
{
    static const char *const verbs[] = {"write", "replace", "rename", "remove"};
    MemMachine &machine = MemMachine::current();
    switch (
        machine.effect(MemMachine::fileEffectName(QString::fromLatin1(verbs[int(effect)]), path))) {
    case MemMachine::Effect::Happens:
        return EffectOutcome::Go;
    case MemMachine::Effect::Fails:
        return EffectOutcome::Fail;
    case MemMachine::Effect::Killed:
        break;
    }
    return EffectOutcome::Killed;
}
