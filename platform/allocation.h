// Heap allocation with a test hook that makes allocations fail.
#pragma once

#include <cstddef>

namespace sfx::platform {

void* Allocate(std::size_t size);
void Release(void* block);
// After `count` more successful allocations, every further one fails; -1 turns this off.
void FailAllocationsAfter(int count);

}  // namespace sfx::platform
