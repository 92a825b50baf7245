#pragma once

#include <QtGlobal>

namespace Zazizi {

// Bytes of memory this process can still get, or -1 where the platform does not tell.
qint64 availableMemory();

} // namespace Zazizi
