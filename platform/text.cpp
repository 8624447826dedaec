#include "platform/text.h"

namespace sfx::platform {

bool CopyWhole(char* out, const char* from, std::size_t capacity) {
    const std::size_t length = strnlen(from, capacity);
    if (length >= capacity)
        return false;
    std::memcpy(out, from, length + 1);
    return true;
}

void CopyCut(char* out, const char* from, std::size_t length, std::size_t capacity) {
    if (out == nullptr)
        return;
    if (length >= capacity)
        length = capacity - 1;
    std::memcpy(out, from, length);
    out[length] = '\0';
}

}  // namespace sfx::platform
