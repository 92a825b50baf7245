#include "blocktable_p.h"

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#endif

namespace Zazizi {

void *Blocks::allocate()
{
#ifdef Q_OS_UNIX
    // Twice the size mapped and the ends given back: aligned without holding (or counting
    // against an address-space limit) more than the block itself.
    const std::size_t span = 2 * Bytes;
    void *mapped =
        ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = quintptr(mapped);
    const auto block = (start + Bytes - 1) & ~quintptr(Bytes - 1);
    if (block > start)
        ::munmap(mapped, block - start);
    if (const std::size_t tail = start + span - (block + Bytes))
        ::munmap(reinterpret_cast<void *>(block + Bytes), tail);
    return reinterpret_cast<void *>(block);
#else
    return ::operator new(Bytes, std::align_val_t(Bytes));
#endif
}

void Blocks::release(void *block)
{
#ifdef Q_OS_UNIX
    ::munmap(block, Bytes);
#else
    ::operator delete(block, std::align_val_t(Bytes));
#endif
}

} // namespace Zazizi
