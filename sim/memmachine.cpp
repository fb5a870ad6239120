#include "memmachine.h"

#include "adapteraddresses.h"
#include "interfacednssettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

MemMachine *currentMachine = nullptr;

QString normalized(const QString &keyPath)
{
    // Most paths have no empty part to drop: only upper-cased.
    const bool plain = !keyPath.contains(QLatin1String("\\\\")) &&
                       !keyPath.startsWith(QLatin1Char('\\')) &&
                       !keyPath.endsWith(QLatin1Char('\\'));
    return (plain ? keyPath
                  : keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\')))
        .toUpper();
}

} // namespace

MemMachine::MemMachine(const QString &simRoot, const QString &programData)
    : programDataFolder(programData)
{
    loadKeys(simRoot + QStringLiteral("/registry"), QString());
    currentMachine = this;
}

MemMachine::~MemMachine()
{
    if (currentMachine == this)
        currentMachine = nullptr;
}

MemMachine &MemMachine::current()
{
    Q_ASSERT(currentMachine);
    return *currentMachine;
}

void MemMachine::loadKeys(const QString &directory, const QString &keyPath)
{
    if (!keyPath.isEmpty())
        keys[normalized(keyPath)].name = keyPath.section(QLatin1Char('\\'), -1);
    const QFileInfoList entries =
        QDir(directory).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        const QString path =
            keyPath.isEmpty() ? entry.fileName() : keyPath + QLatin1Char('\\') + entry.fileName();
        if (entry.isDir()) {
            loadKeys(entry.filePath(), path);
            continue;
        }
        QFile file(entry.filePath());
        if (file.open(QIODevice::ReadOnly))
            storeValue(keyPath, entry.fileName(), QString::fromUtf8(file.readAll()));
    }
}

const MemMachine::Key *MemMachine::key(const QString &keyPath) const
{
    const auto found = keys.constFind(normalized(keyPath));
    return found == keys.constEnd() ? nullptr : &found.value();
}

bool MemMachine::hasKey(const QString &keyPath) const
{
    return key(keyPath);
}

QStringList MemMachine::subkeys(const QString &keyPath) const
{
    const QString prefix = normalized(keyPath) + QLatin1Char('\\');
    QStringList names;
    for (auto it = keys.lowerBound(prefix); it != keys.end() && it.key().startsWith(prefix); ++it) {
        if (!it.key().midRef(prefix.size()).contains(QLatin1Char('\\')))
            names.append(it->name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QString MemMachine::value(const QString &keyPath, const QString &name) const
{
    const Key *found = key(keyPath);
    return found ? found->values.value(name.toUpper()).second : QString();
}

QStringList MemMachine::valueNames(const QString &keyPath) const
{
    QStringList names;
    if (const Key *found = key(keyPath)) {
        for (const auto &value : found->values)
            names.append(value.first);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool MemMachine::setValue(const QString &keyPath, const QString &name, const QString &text) const
{
    if (!key(keyPath))
        return false;
    storeValue(keyPath, name, text);
    return true;
}

void MemMachine::storeValue(const QString &keyPath, const QString &name, const QString &text) const
{
    Key &stored = keys[normalized(keyPath)];
    auto &value = stored.values[name.toUpper()];
    if (value.first.isEmpty())
        value.first = name;
    value.second = text;
}

void MemMachine::startRun(const RunFaults &runFaults)
{
    effectCount = 0;
    callCount = 0;
    run = runFaults;
    wasKilled = false;
    standardOutput.clear();
    standardError.clear();
}

void MemMachine::endRun()
{
    landLateWrites();
}

QString MemMachine::fileEffectName(const QString &verb, const QString &path)
{
    return QStringLiteral("%1 '%2'").arg(verb, QFileInfo(path).fileName());
}

MemMachine::Effect MemMachine::effect(const QString &name)
{
    if (wasKilled)
        return Effect::Killed;
    ++effectCount;
    wasKilled = effectCount == run.killAtTick ||
                (!run.killAtText.isEmpty() && name.contains(run.killAtText));
    if (wasKilled)
        return Effect::Killed;
    const bool fails =
        faults.value(QStringLiteral("vendorfolder")).contains(QStringLiteral("fail ") + name);
    return fails ? Effect::Fails : Effect::Happens;
}

QString MemMachine::callAction(const QString &program, const QStringList &arguments)
{
    if (++callCount == run.faultAtCall)
        return run.callAction;
    return faultActionIn(faults.value(program), arguments);
}

MemMachine::CommandRun MemMachine::runCommand(const QString &name, const QStringList &arguments,
                                              int timeoutMs)
{
    if (wasKilled)
        return {false, false, false, {}};
    journal.append((QStringList(name) + arguments).join(QLatin1Char('\t')));
    const bool netsh = name == QLatin1String("netsh");
    const QString action =
        netsh ? callAction(name, arguments) : faultActionIn(faults.value(name), arguments);
    if (netsh &&
        effect(QStringLiteral("netsh ") + arguments.join(QLatin1Char(' '))) != Effect::Happens)
        return {false, false, false, {}};
    if (action == QLatin1String("fail"))
        return {true, false, false, failedWith("The requested operation failed.")};
    if (action == QLatin1String("hang")) {
        advanceClock(timeoutMs);
        return {true, true, false, {}};
    }
    if (action == QLatin1String("crash"))
        return {true, false, true, {}};
    if (action == QLatin1String("noop"))
        return {};
    return {true, false, false, answerCommand(name, *this, arguments, action)};
}

std::optional<unsigned long> MemMachine::setInterfaceDns(const QString &guid, bool ipv6,
                                                         const QString &servers)
{
    const QStringList arguments = {QStringLiteral("SetInterfaceDnsSettings"), guid,
                                   ipv6 ? QStringLiteral("ipv6") : QStringLiteral("ipv4"), servers};
    if (wasKilled)
        return simiphlpapi::errorInvalidParameter;
    journal.append((QStringList(QStringLiteral("iphlpapi")) + arguments).join(QLatin1Char('\t')));
    const QString action = callAction(QStringLiteral("iphlpapi"), arguments);
    // A call that crashes ends the tool, as a kill there.
    if (action == QLatin1String("crash"))
        run.killAtTick = effectCount + 1;
    if (effect(arguments.join(QLatin1Char(' '))) != Effect::Happens)
        return simiphlpapi::errorInvalidParameter;
    if (action == QLatin1String("fail"))
        return simiphlpapi::errorInvalidParameter;
    const QString key = dnsStackKey(guid.toUpper(), ipv6);
    if (!hasKey(key))
        return simdnssettings::errorNotFound;
    const std::optional<QString> stored = storedDnsServers(servers, ipv6);
    if (!stored)
        return simiphlpapi::errorInvalidParameter;
    if (action == QLatin1String("hang")) {
        lateWrites.append({key, *stored});
        return std::nullopt;
    }
    if (action != QLatin1String("noop"))
        setValue(key, QStringLiteral("NameServer"), *stored);
    return simiphlpapi::errorSuccess;
}

void MemMachine::landLateWrites()
{
    for (const auto &write : qAsConst(lateWrites))
        setValue(write.first, QStringLiteral("NameServer"), write.second);
    lateWrites.clear();
}

MemMachine::Registry MemMachine::registry() const
{
    Registry registry;
    registry.keys = keys;
    return registry;
}

void MemMachine::setRegistry(const Registry &registry)
{
    keys = registry.keys;
}

QString MemMachine::registryText() const
{
    QString text;
    for (auto key = keys.cbegin(); key != keys.cend(); ++key) {
        for (const auto &value : key->values)
            text += key.key() + QLatin1Char('\t') + value.first + QLatin1Char('=') + value.second +
                    QLatin1Char('\n');
    }
    return text;
}
