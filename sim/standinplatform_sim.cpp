// The stand-ins on the simulated machine: the registry is ROOT/registry.
#include "standinplatform.h"

#include "simregistry.h"

#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

MachineRegistry::MachineRegistry(const QString &root) : root(root) {}

bool MachineRegistry::hasKey(const QString &keyPath) const
{
    return !SimRegistry(root).findKey(keyPath).isEmpty();
}

QStringList MachineRegistry::subkeys(const QString &keyPath) const
{
    return SimRegistry::subkeys(SimRegistry(root).findKey(keyPath));
}

QString MachineRegistry::value(const QString &keyPath, const QString &name) const
{
    return SimRegistry::readValue(SimRegistry(root).findKey(keyPath), name);
}

bool MachineRegistry::setValue(const QString &keyPath, const QString &name,
                               const QString &text) const
{
    const QString key = SimRegistry(root).findKey(keyPath);
    return !key.isEmpty() && SimRegistry::writeValue(key, name, text);
}

QStringList standinCommandLine(int argc, char **argv)
{
    QStringList words{QFileInfo(QString::fromLocal8Bit(argv[0])).fileName()};
    for (int i = 1; i < argc; ++i)
        words.append(QString::fromUtf8(argv[i]));
    return words;
}

bool appendToFile(const QString &path, const QByteArray &bytes)
{
    // O_APPEND: the kernel puts every write at the end.
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size();
}

void writeToStandardOutput(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void pause(int ms)
{
    usleep(useconds_t(ms) * 1000);
}

void crash()
{
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
    _exit(139);
}
