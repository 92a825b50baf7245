#include "keytable.h"

#include <QHashFunctions>

#include <cstring>

KeyArena::KeyArena(KeyArena &&other) noexcept
    : m_chunks(std::move(other.m_chunks)), m_blocks(std::move(other.m_blocks)),
      m_capacity(std::exchange(other.m_capacity, 0)), m_used(std::exchange(other.m_used, 0))
{
    other.m_chunks.clear();
    other.m_blocks.clear();
}

KeyArena &KeyArena::operator=(KeyArena &&other) noexcept
{
    if (this != &other) {
        clear();
        m_chunks = std::move(other.m_chunks);
        m_blocks = std::move(other.m_blocks);
        other.m_chunks.clear();
        other.m_blocks.clear();
        m_capacity = std::exchange(other.m_capacity, 0);
        m_used = std::exchange(other.m_used, 0);
    }
    return *this;
}

quint32 KeyArena::add(QStringView key)
{
    // The length in one unit below 2^15, else in two with the top bit of the first set.
    if (key.size() >= 0x80000000LL)
        throw std::bad_alloc();
    const quint32 length = quint32(key.size());
    const quint32 header = length < 0x8000 ? 1 : 2;
    const quint64 units = quint64(header) + length;

    char16_t *at = nullptr;
    quint64 position = 0;
    if (!m_chunks.empty() && m_used + units <= chunkUnits) {
        if (m_used + units > m_capacity) {
            quint32 capacity = m_capacity;
            while (capacity < m_used + units)
                capacity += qMax<quint32>(capacity / 8, 64);
            capacity = qMin(capacity, chunkUnits);
            void *grown = std::realloc(m_blocks.back(), std::size_t(capacity) * sizeof(char16_t));
            if (!grown)
                throw std::bad_alloc();
            m_blocks.back() = m_chunks.back() = static_cast<char16_t *>(grown);
            m_capacity = capacity;
        }
        position = (quint64(m_chunks.size() - 1) << chunkBits) + m_used;
        at = m_chunks.back() + m_used;
        m_used += quint32(units);
    } else {
        // A new chunk number, or several for a key longer than one chunk. Positions are
        // 32-bit: an arena of 8 GB of keys is full.
        const quint64 first = m_chunks.size();
        const quint64 spanned = (units + chunkUnits - 1) / chunkUnits;
        if (((first + spanned) << chunkBits) > 0x100000000ULL)
            throw std::bad_alloc();
        const quint32 capacity = spanned > 1 ? quint32(units) : qMax<quint32>(256, quint32(units));
        m_chunks.reserve(std::size_t(first + spanned));
        m_blocks.reserve(m_blocks.size() + 1);
        void *memory = std::malloc(std::size_t(capacity) * sizeof(char16_t));
        if (!memory)
            throw std::bad_alloc();
        char16_t *block = static_cast<char16_t *>(memory);
        m_blocks.push_back(block);
        for (quint64 i = 0; i < spanned; ++i)
            m_chunks.push_back(block + i * chunkUnits);
        // A block of its own takes no further keys; the next key starts a new chunk.
        m_capacity = spanned > 1 ? chunkUnits : capacity;
        m_used = spanned > 1 ? chunkUnits : quint32(units);
        position = first << chunkBits;
        at = block;
    }

    if (header == 1) {
        at[0] = char16_t(length);
    } else {
        at[0] = char16_t(0x8000 | (length >> 16));
        at[1] = char16_t(length & 0xFFFF);
    }
    if (length)
        std::memcpy(at + header, key.utf16(), std::size_t(length) * sizeof(char16_t));
    return quint32(position);
}

QStringView KeyArena::at(quint32 position) const
{
    const char16_t *unit = m_chunks[position >> chunkBits] + (position & (chunkUnits - 1));
    if (!(unit[0] & 0x8000))
        return QStringView(unit + 1, qsizetype(unit[0]));
    const quint32 length = (quint32(unit[0] & 0x7FFF) << 16) | unit[1];
    return QStringView(unit + 2, qsizetype(length));
}

void KeyArena::clear()
{
    for (char16_t *block : m_blocks)
        std::free(block);
    m_blocks.clear();
    m_chunks.clear();
    m_capacity = 0;
    m_used = 0;
}

void HashChains::reserveOne()
{
    if (m_heads.size() == 0) {
        m_base = initialBuckets;
        m_split = 0;
    }
    while (m_heads.size() < initialBuckets)
        m_heads.push(end);
    m_heads.reserveOne();
    m_next.reserveOne();
}

void HashChains::clear()
{
    m_heads.clear();
    m_next.clear();
    m_base = initialBuckets;
    m_split = 0;
}

KeyTable::KeyTable() : m_seed(QHashSeed::globalSeed()) {}

std::size_t KeyTable::hashOf(QStringView key) const
{
    return qHash(key, m_seed);
}

qint64 KeyTable::indexOf(QStringView key) const
{
    return find(key, hashOf(key));
}

qint64 KeyTable::find(QStringView key, std::size_t hash) const
{
    for (quint32 entry = m_chains.first(hash); entry != HashChains::end;
         entry = m_chains.next(entry)) {
        if (m_slots[entry].hash == quint32(hash) && this->key(entry) == key)
            return entry;
    }
    return -1;
}

quint32 KeyTable::findOrAdd(QStringView key, bool &added)
{
    const std::size_t hash = hashOf(key);
    const qint64 found = find(key, hash);
    if (found >= 0) {
        added = false;
        return quint32(found);
    }
    // Every allocation first, so that a failure leaves the table as it was.
    m_slots.reserveOne();
    m_chains.reserveOne();
    const quint32 position = m_arena.add(key);
    const quint32 index = m_slots.size();
    m_slots.pushReserved(Slot{position, quint32(hash)});
    m_chains.linkReserved(hash, [this](quint32 entry) { return m_slots[entry].hash; });
    added = true;
    return index;
}

void KeyTable::clear()
{
    m_arena.clear();
    m_slots.clear();
    m_chains.clear();
}
