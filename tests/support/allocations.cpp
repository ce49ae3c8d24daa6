#include "support/allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

// (GCC takes the malloc/free pair of a replaced operator for a mismatch.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> g_Counting{false};
std::atomic<int> g_Allocations{0};
} // namespace

AllocationCounter::AllocationCounter() {
    g_Allocations = 0;
    g_Counting = true;
}
AllocationCounter::~AllocationCounter() { g_Counting = false; }
void AllocationCounter::Pause() { g_Counting = false; }
void AllocationCounter::Resume() { g_Counting = true; }
int AllocationCounter::Count() const { return g_Allocations.load(); }

void* operator new(size_t size) {
    if (g_Counting) ++g_Allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, std::align_val_t align) {
    if (g_Counting) ++g_Allocations;
    size_t a = size_t(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    if (g_Counting) ++g_Allocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new[](size_t size, std::align_val_t align) { return operator new(size, align); }
void* operator new[](size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
