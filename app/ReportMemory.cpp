// kurs-report's large blocks in huge pages.
//
// An answer of hundreds of megabytes is kept in one block (the body), and its
// lines are as many bytes again in small blocks; touching that much new
// memory one 4 KiB page at a time costs more than receiving it.  The system
// gives memory huge pages where the program asks for them with madvise, so
// kurs-report's allocation functions ask for them on every block of 4 MiB or
// more before its first use; and a block of 16 MiB or more, the text of a
// large answer, also grows the allocator's heap by as much again in huge
// pages, where the small blocks of its lines are then made.  The blocks of an
// ordinary request are left as the C library's allocator makes them.

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr std::size_t kHugeFrom = std::size_t{4} << 20;
constexpr std::uintptr_t kPage = 4096;

// A block this large is the text of a large answer: its lines follow.
constexpr std::size_t kLargeText = std::size_t{16} << 20;

// The whole pages inside [p, p + n) in huge pages.
void AdviseHuge(void* p, std::size_t n) {
    const auto begin = (reinterpret_cast<std::uintptr_t>(p) + kPage - 1) & ~(kPage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kPage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Grows the allocator's heap by about n bytes at once, in huge pages, so the
// many small lines of a large text are made there.
void GrowHeap(std::size_t n) {
    static std::mutex mutex;
    static std::size_t grown = 0;
    const std::lock_guard<std::mutex> lock(mutex);
    if (n <= grown)
        return;
    grown = n;
    char* const before = static_cast<char*>(::sbrk(0));
    // Each growth of the heap takes top pad bytes more than asked, and a free
    // gives nothing back below the trim threshold.
    ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(std::min<std::size_t>(n * 2, 1u << 30)));
    ::mallopt(M_TOP_PAD, static_cast<int>(std::min<std::size_t>(n, 1u << 30)));
    void* probes[256];
    int count = 0;
    while (count < 256 && static_cast<char*>(::sbrk(0)) == before) {
        probes[count] = std::malloc(64 << 10);
        if (!probes[count])
            break;
        ++count;
    }
    char* const after = static_cast<char*>(::sbrk(0));
    for (int i = 0; i < count; ++i)
        std::free(probes[i]);
    ::mallopt(M_TOP_PAD, 128 << 10);
    if (after > before)
        AdviseHuge(before, static_cast<std::size_t>(after - before));
}

void* Allocate(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p)
        return nullptr;
    // The allocator's own header shares the block's first page, in use already.
    if (n >= kHugeFrom)
        AdviseHuge(p, n);
    // After the text's block, which then has a mapping of its own.
    if (n >= kLargeText)
        GrowHeap(n + n / 4);
    return p;
}

void* AllocateOrThrow(std::size_t n) {
    while (true) {
        if (void* p = Allocate(n))
            return p;
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

}  // namespace

void* operator new(std::size_t n) {
    return AllocateOrThrow(n);
}

void* operator new[](std::size_t n) {
    return AllocateOrThrow(n);
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return AllocateOrThrow(n);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return AllocateOrThrow(n);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete[](void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
