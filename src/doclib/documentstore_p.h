#pragma once

#include "blocktable_p.h"
#include "jsonlexer_p.h"

#include <roruri1/question.h>
#include <roruri1/response.h>
#include <roruri1/test.h>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <vector>

namespace Zazizi {

// The members of a question beyond its id, text and type, kept apart so that a question
// without them costs a few words.
struct QuestionDetails
{
    std::uint32_t answers = 0; // offsets of the arrays
    std::uint32_t options = 0;
    int labelType = 0;
    int textComparison = 0;
    double tolerance = 0.0;
};

// Everything an open document holds. The file's bytes stay as they are, and every text is an
// offset of its opening quote in them, decoded when it is asked for (0: the member is absent):
// the bulk of a document costs little more than its file.
class DocumentStore
{
public:
    static constexpr qsizetype Padding = Json::Padding;

    // A page that carries neither keywords nor a test needs no details.
    static constexpr std::uint32_t NullPage = 0;
    static constexpr std::uint32_t BarePage = 1;
    static constexpr std::uint32_t FirstPageDetails = 2;

    struct PageDetails
    {
        std::uint32_t keywords = 0; // offset of the array
        std::uint32_t test = 0;     // index into `tests` plus one; 0: no test
    };

    // `buffer` holds `size` bytes of the document followed by at least Padding zero bytes.
    DocumentStore(QByteArray buffer, qsizetype size);
    DocumentStore(const DocumentStore &) = delete;
    DocumentStore &operator=(const DocumentStore &) = delete;
    ~DocumentStore();

    const char *data() const { return m_data; }
    qsizetype size() const { return m_size; }
    // Unique among all stores of the process, also those already freed: it keys what is
    // remembered of a document beyond its own lifetime.
    std::uint64_t serial() const { return m_serial; }

    // The value at an offset the reader recorded, once the reader has accepted the document.
    Json::Value value(std::uint32_t offset) const { return Json::Value(m_data + offset); }
    // The text of the string at an offset the reader recorded; null for 0 (absent).
    QString text(std::uint32_t offset) const
    {
        return offset ? value(offset).toString() : QString();
    }
    // The texts of the array of strings at an offset the reader recorded; empty for 0.
    QStringList texts(std::uint32_t offset) const;

    std::uint32_t title = 0;
    // Per page: NullPage, BarePage, or an index into pageDetails plus FirstPageDetails.
    BlockTable<std::uint32_t> pages{this};
    BlockTable<PageDetails> pageDetails{this};
    // Per test instance: an index into `tests` plus one; 0 for a `null` element.
    BlockTable<std::uint32_t> testInstances{this};
    std::vector<std::unique_ptr<Test>> tests;

    BlockTable<Question> questions{this};
    BlockTable<QuestionDetails> questionDetails{this};
    // Only for tests whose question array holds `null` elements: an index into `questions`
    // plus one, 0 for a `null`. The other tests address their run of `questions` directly.
    BlockTable<std::uint32_t> questionSlots{this};
    BlockTable<Response> responses{this};

private:
    QByteArray m_buffer;
    const char *m_data;
    qsizetype m_size;
    std::uint64_t m_serial;
};

} // namespace Zazizi
