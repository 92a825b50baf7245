#pragma once

#include "question.h"
#include "response.h"
#include "test.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace Zazizi {

class DocumentStore;

// Storage in fixed blocks aligned to their size. Each block opens with a header that names
// its store, so that an element finds its document from its own address and needs no pointer
// of its own; growing never moves (or copies) the elements already stored, and the peak stays
// at the final size.
namespace Blocks {
constexpr std::size_t Bytes = std::size_t(64) << 10;
constexpr std::size_t HeaderBytes = 16;

void *allocate();
void release(void *block);

// The store of the block that holds `element`.
inline const DocumentStore &storeOf(const void *element)
{
    const auto block = quintptr(element) & ~quintptr(Bytes - 1);
    return **reinterpret_cast<const DocumentStore *const *>(block);
}
} // namespace Blocks

template <typename T>
class BlockTable
{
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    static_assert(alignof(T) <= Blocks::HeaderBytes);

public:
    static constexpr std::size_t PerBlock = (Blocks::Bytes - Blocks::HeaderBytes) / sizeof(T);

    explicit BlockTable(const DocumentStore *store) : m_store(store) {}
    BlockTable(const BlockTable &) = delete;
    BlockTable &operator=(const BlockTable &) = delete;
    ~BlockTable()
    {
        for (T *block : m_blocks)
            Blocks::release(reinterpret_cast<char *>(block) - Blocks::HeaderBytes);
    }

    std::size_t size() const { return m_size; }
    T &operator[](std::size_t i) const { return m_blocks[i / PerBlock][i % PerBlock]; }
    T &push_back(const T &value)
    {
        if (m_size % PerBlock == 0)
            addBlock();
        T *slot = new (m_blocks.back() + m_size % PerBlock) T(value);
        ++m_size;
        return *slot;
    }

private:
    void addBlock()
    {
        char *block = static_cast<char *>(Blocks::allocate());
        *reinterpret_cast<const DocumentStore **>(block) = m_store;
        try {
            m_blocks.push_back(reinterpret_cast<T *>(block + Blocks::HeaderBytes));
        } catch (...) {
            Blocks::release(block);
            throw;
        }
    }

    const DocumentStore *m_store;
    std::vector<T *> m_blocks;
    std::size_t m_size = 0;
};

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
    // Zero bytes after the document's last byte: they end every scan without bounds checks
    // and make 16-byte loads near the end safe.
    static constexpr qsizetype Padding = 64;

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
