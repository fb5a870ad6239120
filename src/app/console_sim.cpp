#include "console.h"

#include <cstdio>

void writeText(StandardStream stream, const QString &text)
{
    FILE *file = stream == StandardStream::Output ? stdout : stderr;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file);
    std::fflush(file);
}
