#include "dns.h"

#include "logging/logline.h"

namespace {

Dns::Mode modeFromWord(const QString &word)
{
    if (word == QLatin1String("reset"))
        return Dns::Reset;
    if (word == QLatin1String("vpn"))
        return Dns::Vpn;
    if (word == QLatin1String("user"))
        return Dns::User;
    return Dns::Unknown;
}

QString displayName(Dns::Mode mode)
{
    switch (mode) {
    case Dns::Reset:
        return QStringLiteral("Reset");
    case Dns::Vpn:
        return QStringLiteral("VPN DNS");
    case Dns::User:
        return QStringLiteral("User DNS");
    case Dns::Unknown:
        break;
    }
    return QString();
}

// The warning about the command line is written once per process, however
// often the check runs.
bool invalidWarningWritten = false;

} // namespace

Dns::Dns(int argc, char **argv)
{
    setObjectName(QStringLiteral("Dns"));
    if (argc < 2)
        return;

    mode = modeFromWord(QString::fromUtf8(argv[1]));
    for (int i = 2; i < argc; ++i)
        args.append(QString::fromUtf8(argv[i]));

    if (isInvalid())
        return;

    QString suffix;
    if (mode == Reset)
        args.clear();
    else
        suffix = QStringLiteral(" and args '%1'").arg(args.join(QLatin1Char(' ')));
    logInfo(objectName(),
            QStringLiteral("Initialized with '%1' mode").arg(displayName(mode)) + suffix);
}

bool Dns::isInvalid()
{
    const bool invalid = args.isEmpty() ? mode != Reset : mode == Unknown;
    if (invalid && !invalidWarningWritten) {
        invalidWarningWritten = true;
        logWarning(objectName(), QStringLiteral("Invalid command line arguments"));
    }
    return invalid;
}

bool Dns::run()
{
    if (isInvalid())
        return false;
    logInfo(objectName(), QStringLiteral("Process started"));
    logInfo(objectName(), QStringLiteral("Process finished"));
    return true;
}
