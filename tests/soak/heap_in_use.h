#pragma once
// Bytes the process holds on its heap right now, from the allocator that is
// in use: the sanitizer's under AddressSanitizer, glibc's otherwise. Under
// valgrind glibc's figures stay 0 and valgrind's own leak check does the work.

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define LUMIVO_HEAP_FROM_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMIVO_HEAP_FROM_SANITIZER 1
#endif
#endif

#ifdef LUMIVO_HEAP_FROM_SANITIZER
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace lumivo::test {

inline std::size_t HeapInUse() {
#ifdef LUMIVO_HEAP_FROM_SANITIZER
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

}  // namespace lumivo::test
