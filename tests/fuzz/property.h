#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

// A property of a harness that does not hold ends the run like a crash, so
// that libFuzzer keeps the input that broke it.
inline void require(bool holds, const char *property, const QString &detail = QString())
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n%s\n", property, detail.toUtf8().constData());
    std::abort();
}

// The fuzzer's bytes as the tool gets a command-line word or a registry value.
inline QString inputText(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
}
