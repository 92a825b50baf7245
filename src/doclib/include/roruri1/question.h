#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace Zazizi {

class Response;

// One question of a test. Owned by the document; valid while the document is open. Only the
// library makes or copies questions: a question finds its document from its own address, so
// a copy elsewhere would find none.
class Question
{
public:
    struct Option
    {
        QString label;
        bool correct = false;
    };

    QString id() const;
    QString text() const;
    int type() const { return m_type; }
    bool hasCorrectAnswer() const { return m_hasCorrectAnswer; }

    QStringList answerList() const;
    QList<Option> options() const;
    int labelType() const;
    int textComparison() const;
    double tolerance() const;

    int responseCount() const { return int(m_responseCount); }
    // Null for a `null` element of the document's response array, or an index out of range.
    Response *responseAt(int i) const;

private:
    friend class DocumentReader;
    template <typename>
    friend class BlockTable;

    // Trivial, so that the document's tables hold questions as plain bytes.
    Question() = default;
    Question(const Question &) = default;
    Question &operator=(const Question &) = default;

    // Texts and lists are offsets into the document's buffer, decoded when asked for; the
    // document is found from the question's own address. 0: the member is absent.
    std::uint32_t m_id = 0;
    std::uint32_t m_text = 0;
    int m_type = 0;
    // Index into the document's question details plus one; 0: every such member is absent.
    std::uint32_t m_details = 0;
    // A run of the document's response table, `null` elements included.
    std::uint32_t m_firstResponse = 0;
    std::uint32_t m_responseCount = 0;
    bool m_hasCorrectAnswer = false;
};

} // namespace Zazizi
