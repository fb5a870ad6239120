// The data file's INI reader against Debian's QSettings (Qt 5.15) over the
// same bytes: both must read the same keys (in lower case) and values. The
// first byte chooses the text: even, the rest as it is; odd, INI-like text
// that the rest draws (iniLikeText). What the reader takes as text, the
// writer writes so that it reads back alike.
#include "../inireference.h"
#include "property.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size) - 1);
    int used = 0;
    const auto pick = [&input, &used](int n) {
        return used < input.size() ? int(uchar(input.at(used++))) % n : 0;
    };
    const QByteArray text = data[0] % 2 == 0 ? input : iniLikeText(pick, 1 + pick(8));

    // A name of its own per input: QSettings keeps files it read in a cache.
    static int inputs = 0;
    const QString path =
        QDir::temp().filePath(QStringLiteral("fuzz_inireader-%1-%2.ini")
                                  .arg(QCoreApplication::applicationPid())
                                  .arg(++inputs));
    QFile file(path);
    require(file.open(QIODevice::WriteOnly) && file.write(text) == text.size(),
            "the text is written", path);
    file.close();
    const IniText ini = parseIniText(text);
    const QString difference = iniDifference(ini, qsettingsValues(path), text);
    QFile::remove(path);
    require(difference.isEmpty(), "the reader reads what QSettings reads", difference);

    for (auto value = ini.values.cbegin(); value != ini.values.cend(); ++value) {
        if (!value->isText)
            continue;
        const IniText back = parseIniText(formatIniText({{QStringLiteral("G/K"), value->text}}));
        require(back.isWhole() && back.text(QStringLiteral("G/K")) == value->text,
                "a text value as written reads back as itself", value->text);
    }
    return 0;
}
