#include "documentstore_p.h"

#include <atomic>

namespace Zazizi {

namespace {

std::atomic<std::uint64_t> lastSerial{0};

} // namespace

DocumentStore::DocumentStore(QByteArray buffer, qsizetype size)
    : m_buffer(std::move(buffer)), m_data(m_buffer.constData()), m_size(size),
      m_serial(++lastSerial)
{
}

DocumentStore::~DocumentStore() = default;

QStringList DocumentStore::texts(std::uint32_t offset) const
{
    QStringList texts;
    if (offset)
        value(offset).forEachElement([&](Json::Value text) { texts.append(text.toString()); });
    return texts;
}

} // namespace Zazizi
