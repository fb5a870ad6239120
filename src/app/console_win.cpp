#include "console.h"

#include <windows.h>

namespace {

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode);
}

// WriteConsoleW fails for lack of memory on a long text (its buffer is
// shared with the console host): the text goes in pieces of this many
// UTF-16 units at most.
const DWORD consoleChunk = 8000;

void writeToConsole(HANDLE console, const QString &text)
{
    const auto *characters = reinterpret_cast<const wchar_t *>(text.utf16());
    DWORD left = DWORD(text.size());
    while (left > 0) {
        DWORD chunk = qMin(left, consoleChunk);
        // A surrogate pair stays in one piece.
        if (chunk < left && QChar::isHighSurrogate(characters[chunk - 1]))
            --chunk;
        DWORD written = 0;
        if (!WriteConsoleW(console, characters, chunk, &written, nullptr) || written == 0)
            return;
        characters += written;
        left -= written;
    }
}

void writeBytes(HANDLE file, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    DWORD left = DWORD(bytes.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, left, &written, nullptr) || written == 0)
            return;
        data += written;
        left -= written;
    }
}

} // namespace

void writeText(StandardStream stream, const QString &text)
{
    const HANDLE handle =
        GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    // A console's own code page may lack the characters; a pipe or file
    // gets UTF-8, what a caller that reads JSON expects.
    if (isConsole(handle))
        writeToConsole(handle, text);
    else
        writeBytes(handle, text.toUtf8());
}
