#pragma once

#include "question.h"
#include "response.h"
#include "test.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace Zazizi {

// Everything an open document holds. Texts of responses stay in the file's own buffer
// (unescaped in place), so the bulk of a document costs little more than its file.
class DocumentStore
{
public:
    // Zero bytes after the document's last byte: they end every scan without bounds checks
    // and make 16-byte loads near the end safe.
    static constexpr qsizetype Padding = 64;
    // Marks a `null` element in the response slot table.
    static constexpr std::uint32_t NoResponse = 0xffffffffu;

    // Responses in file order, in fixed blocks: growing never moves (or copies) the ones
    // already read, so a response's address stays valid and the peak stays at the final size.
    class ResponseTable
    {
    public:
        std::size_t size() const { return m_size; }
        Response &operator[](std::size_t i) const
        {
            return m_blocks[i >> BlockBits][i & BlockMask];
        }
        void push_back(const Response &response)
        {
            if ((m_size & BlockMask) == 0)
                m_blocks.emplace_back(new Response[BlockMask + 1]);
            m_blocks.back()[m_size & BlockMask] = response;
            ++m_size;
        }

    private:
        static constexpr unsigned BlockBits = 14;
        static constexpr std::size_t BlockMask = (std::size_t(1) << BlockBits) - 1;
        std::vector<std::unique_ptr<Response[]>> m_blocks;
        std::size_t m_size = 0;
    };

    struct PageData
    {
        bool present = false;
        Test *test = nullptr;
        QStringList keywords;
    };

    // `buffer` holds `size` bytes of the document followed by at least Padding zero bytes.
    DocumentStore(QByteArray buffer, qsizetype size)
        : m_buffer(std::move(buffer)), m_data(m_buffer.data()), m_size(size)
    {
    }

    char *data() const { return m_data; }
    qsizetype size() const { return m_size; }

    QString title;
    std::vector<PageData> pages;
    std::vector<Test *> testInstances;

    std::vector<std::unique_ptr<Test>> tests;
    std::vector<std::unique_ptr<Question>> questions;
    std::vector<Question *> questionSlots;

    ResponseTable responses;
    // Indexes into `responses`, only for questions whose response array holds `null`
    // elements; the others address their contiguous run of `responses` directly.
    std::vector<std::uint32_t> responseSlots;

private:
    QByteArray m_buffer;
    char *m_data;
    qsizetype m_size;
};

} // namespace Zazizi
