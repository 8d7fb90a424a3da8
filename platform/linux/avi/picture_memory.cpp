#include "platform/linux/avi/picture_memory.h"

#include <sys/mman.h>

extern "C" {
#include <libavutil/mem.h>
}

namespace {

constexpr size_t huge_page = size_t(2) << 20;

// Under AddressSanitizer every block comes from the heap, where overruns are caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool own_mappings = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool own_mappings = false;
#else
constexpr bool own_mappings = true;
#endif
#else
constexpr bool own_mappings = true;
#endif

size_t mapped_bytes(size_t bytes)
{
    constexpr size_t page = 4096;
    return (bytes + page - 1) / page * page;
}

}  // namespace

uint8_t* picture_block_alloc(size_t bytes)
{
    if (bytes < huge_page || !own_mappings)
        return static_cast<uint8_t*>(av_malloc(bytes));
    // Mapped 2 MB longer, then trimmed to start on a 2 MB boundary: only whole aligned 2 MB
    // stretches get huge pages; the tail beyond the last one keeps small pages, wasting nothing.
    const size_t length = mapped_bytes(bytes);
    void* raw = mmap(nullptr, length + huge_page, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + huge_page - 1) & ~uintptr_t(huge_page - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const size_t after = start + length + huge_page - (aligned + length);
    if (after > 0)
        munmap(reinterpret_cast<void*>(aligned + length), after);
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);  // advice: may be ignored
    return reinterpret_cast<uint8_t*>(aligned);
}

void picture_block_free(uint8_t* block, size_t bytes)
{
    if (!block)
        return;
    if (bytes < huge_page || !own_mappings)
        av_free(block);
    else
        munmap(block, mapped_bytes(bytes));
}
