#pragma once

#include <QString>

#include <cstdint>

namespace Zazizi {

class DocumentStore;

// One student's answer to one question, as a device sent it. Owned by the document;
// valid while the document is open.
class Response
{
public:
    QString text() const;
    QString studentId() const;
    QString studentName() const;
    QString label() const;
    int startTime() const;

private:
    friend class DocumentStore;
    friend class DocumentReader;

    // Texts are UTF-8 spans inside the document's own buffer, so a response costs a few
    // words however many a document holds.
    struct Span
    {
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
    };
    QString string(Span span) const;

    const DocumentStore *m_store = nullptr;
    Span m_text;
    Span m_studentId;
    Span m_studentName;
    Span m_label;
    int m_startTime = 0;
};

} // namespace Zazizi
