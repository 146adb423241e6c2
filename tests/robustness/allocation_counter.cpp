// The allocation interposer: every allocation function forwards to glibc's
// own entry points and, while the calling thread counts, adds one. free and
// operator delete are forwarded only: a release is no allocation.
#include "robustness/allocation_counter.h"

#include <cerrno>
#include <cstdlib>
#include <new>

namespace morvane::test {
namespace {

// Plain thread-locals of the executable: static TLS, which the allocator
// can touch without allocating.
thread_local bool t_counting = false;
thread_local size_t t_allocations = 0;

}  // namespace

void BeginCountingAllocations() {
    t_allocations = 0;
    t_counting = true;
}

size_t EndCountingAllocations() {
    t_counting = false;
    return t_allocations;
}

}  // namespace morvane::test

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

void Note() {
    if (morvane::test::t_counting) ++morvane::test::t_allocations;
}

void* Allocate(size_t size) {
    Note();
    return __libc_malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(size_t size, std::align_val_t alignment) {
    Note();
    return __libc_memalign(static_cast<size_t>(alignment), size == 0 ? 1 : size);
}

void* OrThrow(void* pointer) {
    if (pointer == nullptr) throw std::bad_alloc();
    return pointer;
}

}  // namespace

extern "C" void* malloc(size_t size) noexcept {
    Note();
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) noexcept {
    Note();
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size) noexcept {
    Note();
    return __libc_realloc(pointer, size);
}
extern "C" void* aligned_alloc(size_t alignment, size_t size) noexcept {
    Note();
    return __libc_memalign(alignment, size);
}
extern "C" int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    Note();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *out = pointer;
    return 0;
}
extern "C" void free(void* pointer) noexcept {
    __libc_free(pointer);
}

void* operator new(size_t size) {
    return OrThrow(Allocate(size));
}
void* operator new[](size_t size) {
    return OrThrow(Allocate(size));
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new(size_t size, std::align_val_t alignment) {
    return OrThrow(AllocateAligned(size, alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return OrThrow(AllocateAligned(size, alignment));
}
void operator delete(void* pointer) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer) noexcept {
    __libc_free(pointer);
}
void operator delete(void* pointer, size_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer, size_t) noexcept {
    __libc_free(pointer);
}
void operator delete(void* pointer, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete(void* pointer, size_t, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void* pointer, size_t, std::align_val_t) noexcept {
    __libc_free(pointer);
}

#endif
