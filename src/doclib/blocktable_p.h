#pragma once

#include <QtGlobal>

#include <cstddef>
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
static_assert(sizeof(const DocumentStore *) <= HeaderBytes);

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

} // namespace Zazizi
