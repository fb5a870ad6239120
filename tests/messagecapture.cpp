#include "messagecapture.h"

#include <QtGlobal>

namespace {

QStringList captured;
QtMessageHandler previousHandler = nullptr;

QString typeName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("debug");
    case QtInfoMsg:
        return QStringLiteral("info");
    case QtWarningMsg:
        return QStringLiteral("warning");
    case QtCriticalMsg:
        return QStringLiteral("critical");
    case QtFatalMsg:
        break;
    }
    return QStringLiteral("fatal");
}

void capture(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    captured.append(typeName(type) + QLatin1Char('\t') + message.simplified());
}

} // namespace

MessageCapture::MessageCapture()
{
    captured.clear();
    previousHandler = qInstallMessageHandler(capture);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList MessageCapture::lines() const
{
    return captured;
}

QStringList MessageCapture::linesStartingWith(const QString &typeAndPrefix) const
{
    QStringList matching;
    for (const QString &line : captured) {
        if (line.startsWith(typeAndPrefix))
            matching.append(line);
    }
    return matching;
}

void MessageCapture::clear()
{
    captured.clear();
}
