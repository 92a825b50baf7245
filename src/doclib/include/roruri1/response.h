#pragma once

#include <QString>

#include <cstdint>

namespace Zazizi {

// One student's answer to one question, as a device sent it. Owned by the document; valid
// while the document is open. Only the library makes or copies responses: a response finds
// its document from its own address, so a copy elsewhere would find none.
class Response
{
public:
    QString text() const;
    QString studentId() const;
    QString studentName() const;
    QString label() const;
    int startTime() const;

private:
    friend class DocumentReader;
    friend class Question;
    template <typename>
    friend class BlockTable;

    // Trivial, so that the document's tables hold responses as plain bytes.
    Response() = default;
    Response(const Response &) = default;
    Response &operator=(const Response &) = default;

    // A response is only where its object starts in the document's buffer, so that it costs
    // one word however many a document holds; its members are found again when asked for,
    // and the document from the response's own address. 0 stands for a `null` element.
    std::uint32_t m_offset = 0;
};

} // namespace Zazizi
