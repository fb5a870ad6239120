// Prints what the Windows build's QSettings reads from each file in the
// folder named on the command line: per file a line with its name, a TAB
// and a JSON object of its keys (as allKeys() names them) and their text,
// null for a value that is not text.
#include "inireference.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QDir folder(application.arguments().value(1));
    for (const QString &name : folder.entryList(QDir::Files, QDir::Name)) {
        QJsonObject values;
        for (const ReferenceValue &value : qsettingsValues(folder.filePath(name)))
            values.insert(value.key, value.isText ? QJsonValue(value.text) : QJsonValue());
        std::printf("%s\t%s\n", qPrintable(name),
                    QJsonDocument(values).toJson(QJsonDocument::Compact).constData());
    }
    return 0;
}
