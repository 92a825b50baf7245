#pragma once

#include <QStringView>
#include <QtAlgorithms>
#include <QtGlobal>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// Containers for the export's tables, whose size follows the document: a teacher's file may
// name a million students or questions. Nothing here allocates per entry, and growing copies
// at most the last chunk (64 K entries or 2 MB of keys), never a large array, so that the
// memory of a table stays a small constant per entry at its peak.
//
// Indexes are dense and 32-bit, given out in the order entries were added; the tables are
// iterated in that order.

// An array that grows by chunks: small ones first, so that the many small tables of a run cost
// little, then chunks of a fixed size. The last chunk is allocated an eighth at a time, so that
// at most an eighth of a chunk stands empty: a document with thousands of tables of a few
// hundred entries would otherwise pay for up to twice what it holds. A reference to an element
// of the last chunk is therefore valid only until the next reserveOne().
template <typename T>
class ChunkedArray
{
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "elements are copied as bytes and never destroyed");

public:
    // Beyond this the indexes would no longer fit the tables' 31-bit fields.
    static constexpr quint32 maxSize = 0x7FFFFFF0u;

    ChunkedArray() = default;
    ~ChunkedArray() { clear(); }
    ChunkedArray(ChunkedArray &&other) noexcept
        : m_chunks(std::move(other.m_chunks)), m_size(std::exchange(other.m_size, 0)),
          m_lastCapacity(std::exchange(other.m_lastCapacity, 0))
    {
        other.m_chunks.clear();
    }
    ChunkedArray &operator=(ChunkedArray &&other) noexcept
    {
        if (this != &other) {
            clear();
            m_chunks = std::move(other.m_chunks);
            other.m_chunks.clear();
            m_size = std::exchange(other.m_size, 0);
            m_lastCapacity = std::exchange(other.m_lastCapacity, 0);
        }
        return *this;
    }
    ChunkedArray(const ChunkedArray &) = delete;
    ChunkedArray &operator=(const ChunkedArray &) = delete;

    quint32 size() const { return m_size; }

    T &operator[](quint32 i)
    {
        const auto [chunk, offset] = locate(i);
        return m_chunks[chunk][offset];
    }
    const T &operator[](quint32 i) const
    {
        const auto [chunk, offset] = locate(i);
        return m_chunks[chunk][offset];
    }

    // Makes room for one more element, so that the next pushReserved cannot fail; throws
    // std::bad_alloc with the array unchanged.
    void reserveOne()
    {
        if (m_size >= maxSize)
            throw std::bad_alloc();
        const auto [chunk, offset] = locate(m_size);
        if (chunk < m_chunks.size() && offset < m_lastCapacity)
            return;
        const quint32 size = chunkSize(chunk);
        const quint32 step = qMax<quint32>(size / 8, 16);
        const quint32 capacity = qMin(size, (offset / step + 1) * step);
        if (chunk < m_chunks.size()) {
            void *grown = std::realloc(m_chunks.back(), std::size_t(capacity) * sizeof(T));
            if (!grown)
                throw std::bad_alloc();
            m_chunks.back() = static_cast<T *>(grown);
            m_lastCapacity = capacity;
            return;
        }
        m_chunks.reserve(m_chunks.size() + 1);
        void *memory = std::malloc(std::size_t(capacity) * sizeof(T));
        if (!memory)
            throw std::bad_alloc();
        m_chunks.push_back(static_cast<T *>(memory));
        m_lastCapacity = capacity;
    }
    void pushReserved(const T &value)
    {
        const auto [chunk, offset] = locate(m_size);
        m_chunks[chunk][offset] = value;
        ++m_size;
    }
    quint32 push(const T &value)
    {
        reserveOne();
        pushReserved(value);
        return m_size - 1;
    }

    void clear()
    {
        for (T *chunk : m_chunks)
            std::free(chunk);
        m_chunks.clear();
        m_size = 0;
        m_lastCapacity = 0;
    }

private:
    // Chunk 0 holds indexes 0 to 15, chunk c up to 12 holds [2^(c+3), 2^(c+4)), every later
    // chunk 2^16 indexes.
    static std::pair<quint32, quint32> locate(quint32 i)
    {
        if (i < 16)
            return {0, i};
        if (i < 0x10000) {
            const quint32 top = 31 - qCountLeadingZeroBits(i);
            return {top - 3, i - (1u << top)};
        }
        return {12 + (i >> 16), i & 0xFFFF};
    }
    static quint32 chunkSize(quint32 chunk)
    {
        if (chunk == 0)
            return 16;
        return chunk <= 12 ? 1u << (chunk + 3) : 0x10000;
    }

    std::vector<T *> m_chunks;
    quint32 m_size = 0;
    // Elements allocated in the last chunk.
    quint32 m_lastCapacity = 0;
};

// Keys stored once, back to back in UTF-16 chunks, each behind its length. A key is found by
// its 32-bit position. Only the last chunk grows (by reallocation, an eighth at a time, up to a
// fixed size); a key longer than a chunk gets a block of its own that spans several chunk
// numbers.
class KeyArena
{
public:
    KeyArena() = default;
    ~KeyArena() { clear(); }
    KeyArena(KeyArena &&other) noexcept;
    KeyArena &operator=(KeyArena &&other) noexcept;
    KeyArena(const KeyArena &) = delete;
    KeyArena &operator=(const KeyArena &) = delete;

    // Where the key now stands; throws std::bad_alloc with the arena unchanged.
    quint32 add(QStringView key);
    QStringView at(quint32 position) const;
    void clear();

private:
    static constexpr int chunkBits = 20;
    static constexpr quint32 chunkUnits = 1u << chunkBits;

    // Per chunk number, where its units begin.
    std::vector<char16_t *> m_chunks;
    // The allocations, each freed once.
    std::vector<char16_t *> m_blocks;
    // Units allocated and used in the last chunk; a full chunk takes no more keys.
    quint32 m_capacity = 0;
    quint32 m_used = 0;
};

// The chains of a hash table that grows one bucket at a time (linear hashing): each added
// entry may split one bucket, so the table never rebuilds itself and needs no second bucket
// array while it grows. About one bucket per entry.
class HashChains
{
public:
    static constexpr quint32 end = 0xFFFFFFFFu;

    quint32 first(std::size_t hash) const
    {
        return m_heads.size() == 0 ? end : m_heads[bucketFor(hash)];
    }
    quint32 next(quint32 entry) const { return m_next[entry]; }

    // Room to link one more entry; throws std::bad_alloc with the chains unchanged.
    void reserveOne();
    // Links the next entry (number count()) under its hash, then splits a bucket when the
    // chains have grown longer than one entry on average; hashOf gives any entry's hash.
    template <typename HashOf>
    void linkReserved(std::size_t hash, HashOf hashOf)
    {
        const quint32 entry = m_next.size();
        const quint32 bucket = bucketFor(hash);
        m_next.pushReserved(m_heads[bucket]);
        m_heads[bucket] = entry;
        if (m_next.size() > m_heads.size())
            split(hashOf);
    }
    quint32 count() const { return m_next.size(); }
    void clear();

private:
    static constexpr quint32 initialBuckets = 16;

    quint32 bucketFor(std::size_t hash) const
    {
        const quint32 low = quint32(hash);
        const quint32 bucket = low & (m_base - 1);
        return bucket < m_split ? low & (2 * m_base - 1) : bucket;
    }
    template <typename HashOf>
    void split(HashOf hashOf)
    {
        // The bucket at the split point divides into itself and a new one at the end,
        // by one more bit of each entry's hash.
        const quint32 from = m_split;
        const quint32 to = m_heads.size();
        m_heads.pushReserved(end);
        quint32 entry = m_heads[from];
        m_heads[from] = end;
        while (entry != end) {
            const quint32 following = m_next[entry];
            const quint32 bucket = (quint32(hashOf(entry)) & (2 * m_base - 1)) == from ? from : to;
            m_next[entry] = m_heads[bucket];
            m_heads[bucket] = entry;
            entry = following;
        }
        if (++m_split == m_base) {
            m_base *= 2;
            m_split = 0;
        }
    }

    ChunkedArray<quint32> m_heads;
    ChunkedArray<quint32> m_next;
    quint32 m_base = initialBuckets;
    quint32 m_split = 0;
};

// Strings to dense indexes: each key stored once in a KeyArena, found through HashChains.
class KeyTable
{
public:
    KeyTable();
    KeyTable(KeyTable &&other) noexcept = default;
    KeyTable &operator=(KeyTable &&other) noexcept = default;

    quint32 size() const { return m_slots.size(); }
    // The key's index, or -1.
    qint64 indexOf(QStringView key) const;
    // The key's index; a new key is added at the end, and then `added` is set. Throws
    // std::bad_alloc with the table unchanged.
    quint32 findOrAdd(QStringView key, bool &added);
    QStringView key(quint32 index) const { return m_arena.at(m_slots[index].position); }
    void clear();

private:
    // Where a key stands in the arena, and the low half of its hash: a chain is walked and a
    // bucket split without reading or hashing the keys again.
    struct Slot
    {
        quint32 position;
        quint32 hash;
    };

    std::size_t hashOf(QStringView key) const;
    qint64 find(QStringView key, std::size_t hash) const;

    KeyArena m_arena;
    ChunkedArray<Slot> m_slots;
    HashChains m_chains;
    // Seeded per process, so that a document cannot be made to put every key in one chain.
    std::size_t m_seed;
};
