#include "filekey.h"

std::optional<QString> fileKeyForKeyword(const QString &keyword)
{
    const QString word = keyword.simplified().toUpper();
    if (!word.startsWith(QLatin1String("CSV")))
        return std::nullopt;
    // The character after "CSV" is dropped as a separator whatever it is, so "CSV Period 2"
    // loses its P; file names written so far depend on that.
    QString name = word.mid(3).trimmed();
    name.remove(0, 1);
    return name.trimmed();
}

QString fileKeyForKeywords(const QStringList &keywords)
{
    for (const QString &keyword : keywords) {
        if (std::optional<QString> key = fileKeyForKeyword(keyword))
            return *key;
    }
    return QStringLiteral("NULL");
}
