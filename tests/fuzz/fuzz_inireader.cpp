// The data file's INI reader against Debian's QSettings: the same keys (in
// lower case) and values. The first byte chooses the text: even, the rest
// as it is; odd, INI-like text the rest draws. A text value read, written
// again, reads back as itself.
#include "../inireference.h"
#include "property.h"

#include <QCoreApplication>
#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size) - 1);
    int used = 0;
    const auto pick = [&](int n) {
        return used < input.size() ? uchar(input[used++]) % n : 0;
    };
    const QByteArray text = data[0] % 2 == 0 ? input : iniLikeText(pick, 1 + pick(8));
    // A file of its own per input: QSettings caches the files it read.
    static int inputs = 0;
    QFile file(QDir::temp().filePath(QStringLiteral("fuzz_inireader-%1-%2")
                                         .arg(QCoreApplication::applicationPid())
                                         .arg(++inputs)));
    require(file.open(QIODevice::WriteOnly) && file.write(text) == text.size(), "text written");
    file.close();
    const IniText ini = parseIniText(text);
    const QString difference = iniDifference(ini, qsettingsValues(file.fileName()), text);
    file.remove();
    require(difference.isEmpty(), "the reader reads what QSettings reads", difference);
    for (const IniValue &value : ini.values) {
        const IniText back = parseIniText(formatIniText({{QStringLiteral("G/K"), value.text}}));
        require(!value.isText || back.text(QStringLiteral("G/K")) == value.text,
                "a text value as written reads back as itself", value.text);
    }
    return 0;
}
