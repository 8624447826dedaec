#include "platform/allocation.h"

#include <cstdlib>

namespace sfx::platform {

namespace {
int allocationsLeft = -1;  // successful allocations still allowed; -1: no limit
}

void* Allocate(std::size_t size) {
    if (allocationsLeft == 0)
        return nullptr;
    if (allocationsLeft > 0)
        --allocationsLeft;
    return std::malloc(size);
}

void Release(void* block) {
    std::free(block);
}

void FailAllocationsAfter(int count) {
    allocationsLeft = count;
}

}  // namespace sfx::platform
