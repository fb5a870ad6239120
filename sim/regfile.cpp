#include "regfile.h"

#include "simkeys.h"
#include "simregistry.h"

#include <QDir>

namespace {

const QString fileHeader = QStringLiteral("Windows Registry Editor Version 5.00");
const QString lineEnd = QStringLiteral("\r\n");

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

void appendKey(QString *text, const QString &keyPath, const QString &keyDirectory)
{
    *text += QLatin1Char('[') + keyPath + QLatin1Char(']') + lineEnd;
    for (const QString &name : SimRegistry::valueNames(keyDirectory))
        *text += quoted(name) + QLatin1Char('=') +
                 quoted(SimRegistry::readValue(keyDirectory, name)) + lineEnd;
    *text += lineEnd;
    for (const QString &subkey : SimRegistry::subkeys(keyDirectory))
        appendKey(text, keyPath + QLatin1Char('\\') + subkey,
                  keyDirectory + QLatin1Char('/') + subkey);
}

// Reads a quoted text that starts at `position`, undoing the escapes, and
// moves `position` past its closing quote. False when it is not one.
bool readQuoted(const QString &line, int *position, QString *text)
{
    if (*position >= line.size() || line.at(*position) != QLatin1Char('"'))
        return false;
    text->clear();
    for (int i = *position + 1; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"')) {
            *position = i + 1;
            return true;
        }
        if (c == QLatin1Char('\\') && i + 1 < line.size())
            ++i;
        text->append(line.at(i));
    }
    return false;
}

// A line `"NAME"="TEXT"`: a string value. False for any other line.
bool readStringValue(const QString &line, QString *name, QString *text)
{
    int position = 0;
    if (!readQuoted(line, &position, name) || line.mid(position, 1) != QLatin1String("="))
        return false;
    ++position;
    return readQuoted(line, &position, text) && position == line.size();
}

// The file's lines, with the lines that a trailing "\" continues joined.
QStringList logicalLines(const QByteArray &file)
{
    const bool utf16 = file.startsWith("\xff\xfe");
    const QString text =
        utf16 ? QString::fromUtf16(reinterpret_cast<const char16_t *>(file.constData() + 2),
                                   (file.size() - 2) / 2)
              : QString::fromUtf8(file);
    QStringList lines;
    bool continued = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (continued)
            lines.last() += line.trimmed();
        else
            lines.append(line);
        continued = lines.last().endsWith(QLatin1Char('\\'));
        if (continued)
            lines.last().chop(1);
    }
    return lines;
}

// The directory of the key of a "[KEY]" line, created, when the key lies
// below a machine root key; "" otherwise.
QString keyOfLine(const SimRegistry &registry, const QString &line)
{
    const QString path = line.mid(1, line.size() - 2);
    for (const QString &rootKey : machineRootKeys()) {
        if (path.compare(rootKey, Qt::CaseInsensitive) == 0 ||
            path.startsWith(rootKey + QLatin1Char('\\'), Qt::CaseInsensitive))
            return registry.createKey(path);
    }
    return QString();
}

} // namespace

QStringList machineRootKeys()
{
    return {simkeys::tcpipInterfaces, simkeys::tcpip6Interfaces, simkeys::networkConnections,
            simkeys::adapterClass};
}

QByteArray registrationFileOf(const QString &root)
{
    const SimRegistry registry(root);
    QString text = fileHeader + lineEnd + lineEnd;
    for (const QString &rootKey : machineRootKeys())
        text += QStringLiteral("[-") + rootKey + QLatin1Char(']') + lineEnd + lineEnd;
    for (const QString &rootKey : machineRootKeys()) {
        const QString directory = registry.findKey(rootKey);
        if (!directory.isEmpty())
            appendKey(&text, rootKey, directory);
    }
    return QByteArray("\xff\xfe") +
           QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

void readRegistrationFiles(const QString &root, const QList<QByteArray> &files)
{
    const SimRegistry registry(root);
    for (const QString &rootKey : machineRootKeys()) {
        QDir(registry.createKey(rootKey)).removeRecursively();
        registry.createKey(rootKey);
    }
    for (const QByteArray &file : files) {
        QString key; // the current key's directory, or "" outside the machine
        for (const QString &line : logicalLines(file)) {
            QString name;
            QString text;
            if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
                key = keyOfLine(registry, line);
            else if (!key.isEmpty() && readStringValue(line, &name, &text))
                SimRegistry::writeValue(key, name, text);
        }
    }
}
