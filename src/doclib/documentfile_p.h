#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace Zazizi {

// Texts and objects are 32-bit offsets into the document's bytes.
constexpr qint64 MaxDocumentSize = Q_INT64_C(0xffffffff);

// Reads the document file at `path` into `buffer`: its `size` bytes followed by room for
// the zero padding the reader relies on (not yet zeroed). On failure returns false and sets
// `error` to the reason. A file that is no regular file is refused before it is opened, so
// that a pipe or a device never blocks the program, and so is one the process cannot afford
// to read and export.
[[nodiscard]] bool readDocumentFile(const QString &path, QByteArray &buffer, qsizetype &size,
                                    QString &error);

} // namespace Zazizi
