#pragma once

#include <QStringList>

// Collects the Qt messages of this process while it exists, as
// "<type>\t<message>" with the message simplified, the form of log lines.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    QStringList lines() const;
    // The lines that begin with "<type>\t<prefix>".
    QStringList linesStartingWith(const QString &typeAndPrefix) const;
    void clear();
};
