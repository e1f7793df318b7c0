#pragma once
// A byte buffer for a whole file read at once, such as a stem the game keeps in memory and decodes as
// it plays. Filling an ordinary vector first zeroes every byte and then faults in each fresh 4 KB
// page as the read copies into it: for the tens of megabytes of a long level that is most of the
// time between Start and the first sound. This allocator leaves new bytes as they are (the read
// fills them) and, on Linux, asks for huge pages for buffers of 2 MB and more, so that a 4 MB stem
// costs two page faults rather than a thousand. Plain code, any thread.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

template <class T> struct FileBufferAllocator {
    using value_type = T;
    // Buffers from this size on start on a huge page boundary and are advised to use huge pages.
    static constexpr std::size_t kHugePage = std::size_t(2) << 20;

    FileBufferAllocator() = default;
    template <class U> FileBufferAllocator(const FileBufferAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T) - kHugePage) {
            throw std::bad_alloc();
        }
        const std::size_t bytes = n * sizeof(T);
        void* p = nullptr;
        if (bytes >= kHugePage) {
            // Only whole huge pages of the buffer become huge pages: its tail stays in small ones,
            // so that memory is not spent past its end.
            if (posix_memalign(&p, kHugePage, bytes) != 0) {
                p = nullptr;
            }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
            if (p) {
                madvise(p, bytes / kHugePage * kHugePage,
                        MADV_HUGEPAGE); // advice: a refusal keeps small pages
            }
#endif
        } else {
            p = std::malloc(bytes > 0 ? bytes : 1);
        }
        if (!p) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    // New elements are default-initialised: bytes are left for the read to fill.
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <class U> bool operator==(const FileBufferAllocator<U>&) const noexcept { return true; }
    template <class U> bool operator!=(const FileBufferAllocator<U>&) const noexcept { return false; }
};

// A whole file's bytes.
using FileBytes = std::vector<unsigned char, FileBufferAllocator<unsigned char>>;
