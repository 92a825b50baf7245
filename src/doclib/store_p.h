#pragma once

#include "question.h"
#include "response.h"
#include "test.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
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
    // A block is one large page, so that the kernel maps it in one fault where it can.
    class ResponseTable
    {
    public:
        ResponseTable() = default;
        ResponseTable(const ResponseTable &) = delete;
        ResponseTable &operator=(const ResponseTable &) = delete;
        ~ResponseTable();

        std::size_t size() const { return m_size; }
        Response &operator[](std::size_t i) const { return m_blocks[i / PerBlock][i % PerBlock]; }
        void push_back(const Response &response)
        {
            if (m_size % PerBlock == 0)
                addBlock();
            new (m_blocks.back() + m_size % PerBlock) Response(response);
            ++m_size;
        }

    private:
        static constexpr std::size_t BlockBytes = std::size_t(2) << 20;
        static constexpr std::size_t PerBlock = BlockBytes / sizeof(Response);
        // Blocks are released without running destructors.
        static_assert(std::is_trivially_destructible_v<Response>);
        void addBlock();

        std::vector<Response *> m_blocks;
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
