// Counts heap allocations made on the calling thread between Begin and End,
// through malloc and operator new replaced in the test binary. Where a
// sanitizer owns malloc (AddressSanitizer, ThreadSanitizer) nothing is
// replaced and nothing is counted.
#pragma once

#include <cstddef>

namespace morvane::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kAllocationsCounted = false;
#else
constexpr bool kAllocationsCounted = true;
#endif

// Starts counting the calling thread's allocations (other threads are never counted).
void BeginCountingAllocations();
// Stops counting; the number of allocations since Begin.
size_t EndCountingAllocations();

}  // namespace morvane::test
