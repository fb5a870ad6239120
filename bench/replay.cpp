// tarnwick-replay JOURNAL: runs the child commands of a journal in order,
// each awaited and its output read, and nothing else. Started inside a
// simulated machine it costs what the child processes of a run cost: the
// floor that the benchmark holds the tool against.
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <cstdio>

namespace {

// "dnsapi" and "iphlpapi" lines record calls of libraries, not processes.
bool isChildCommand(const QStringList &fields)
{
    return !fields.isEmpty() && fields.first() != QLatin1String("dnsapi") &&
           fields.first() != QLatin1String("iphlpapi");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: tarnwick-replay JOURNAL\n", stderr);
        return 2;
    }
    QFile journal(QFile::decodeName(argv[1]));
    if (!journal.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tarnwick-replay: cannot read %s\n", argv[1]);
        return 1;
    }
    const QStringList lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        QStringList fields = line.split(QLatin1Char('\t'));
        if (line.isEmpty() || !isChildCommand(fields))
            continue;
        QProcess process;
        process.start(fields.takeFirst(), fields, QIODevice::ReadWrite);
        // As the tool does: wmic answers only once its input has ended.
        process.closeWriteChannel();
        process.waitForFinished(-1);
        process.readAllStandardOutput();
    }
    return 0;
}
