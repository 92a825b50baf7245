#pragma once

#include <QString>

namespace Zazizi {

class DocumentStore;

// Reads the whole document held by `store` into it. On failure returns false and sets
// `error` to the reason.
[[nodiscard]] bool readDocument(DocumentStore &store, QString &error);

} // namespace Zazizi
