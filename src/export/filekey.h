#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The export file a page's results go to is named by its first keyword that begins with
// "CSV" (after simplifying and upper-casing); pages without one share the default file "NULL".

// The file key that one keyword names, or nothing when it is not a file keyword.
std::optional<QString> fileKeyForKeyword(const QString &keyword);

// The file key of a page with these keywords: the first file keyword decides, else "NULL".
QString fileKeyForKeywords(const QStringList &keywords);
