#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace Zazizi {

class DocumentStore;
class Response;

// One question of a test. Owned by the document; valid while the document is open.
class Question
{
public:
    struct Option
    {
        QString label;
        bool correct = false;
    };

    QString id() const { return m_id; }
    QString text() const { return m_text; }
    int type() const { return m_type; }
    bool hasCorrectAnswer() const { return m_hasCorrectAnswer; }

    QStringList answerList() const { return m_answers; }
    QList<Option> options() const { return m_options; }
    int labelType() const { return m_labelType; }
    int textComparison() const { return m_textComparison; }
    double tolerance() const { return m_tolerance; }

    int responseCount() const { return m_responseCount; }
    // Null for a `null` element of the document's response array, or an index out of range.
    Response *responseAt(int i) const;

private:
    friend class DocumentReader;

    QString m_id;
    QString m_text;
    int m_type = 0;
    bool m_hasCorrectAnswer = false;
    QStringList m_answers;
    QList<Option> m_options;
    int m_labelType = 0;
    int m_textComparison = 0;
    double m_tolerance = 0.0;
    // The responses are a run of the document's response table starting at m_firstResponse,
    // unless the array holds `null` elements: then m_firstSlot (not -1) starts a run of
    // indexes into that table.
    const DocumentStore *m_store = nullptr;
    std::uint32_t m_firstResponse = 0;
    std::int64_t m_firstSlot = -1;
    int m_responseCount = 0;
};

} // namespace Zazizi
