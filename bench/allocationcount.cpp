#include "allocationcount.h"

#include <atomic>
#include <cstddef>

// The C library's own entry points, which the replacements below forward to.
extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_realloc(void *p, size_t size);

namespace {
std::atomic<long> g_allocations{0};
}

extern "C" void *malloc(size_t size) noexcept
{
    ++g_allocations;
    return __libc_malloc(size);
}

extern "C" void *realloc(void *p, size_t size) noexcept
{
    ++g_allocations;
    return __libc_realloc(p, size);
}

long allocationCount()
{
    return g_allocations.load(std::memory_order_relaxed);
}
