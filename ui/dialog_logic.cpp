#include "ui/dialog_logic.h"

#include <cstring>

#include "engine/status.h"
#include "ui/startup.h"

namespace sfx::ui {

using platform::EndsWithSeparator;
using platform::PathLength;

bool JoinDestination(const char* folder, const char* fileName, char* out, std::size_t capacity) {
    const std::size_t folderLength = strnlen(folder, capacity);
    const std::size_t separator = folderLength > 0 && !EndsWithSeparator(folder) ? 1 : 0;
    const std::size_t nameLength = strnlen(fileName, capacity);
    out[0] = '\0';
    if (folderLength + separator + nameLength >= capacity)
        return false;
    std::memcpy(out, folder, folderLength);
    if (separator != 0)
        out[folderLength] = '\\';
    std::memcpy(out + folderLength + separator, fileName, nameLength);
    out[folderLength + separator + nameLength] = '\0';
    return true;
}

void EnsureFinalSeparator(char* folder) {
    const std::size_t length = strnlen(folder, TextSize - 1);
    folder[length] = '\0';
    if (EndsWithSeparator(folder) || length + 1 >= TextSize ||
        PathLength(folder, TextCharacters) >= TextCharacters)
        return;
    folder[length] = '\\';
    folder[length + 1] = '\0';
}

bool TakeBrowsedFolder(const char* chosen, char* folder) {
    const std::size_t length = strnlen(chosen, WorkTextSize);
    const std::size_t separator = EndsWithSeparator(chosen) ? 0 : 1;
    if (length == WorkTextSize || length + separator >= TextSize ||
        PathLength(chosen, TextCharacters) + separator > TextCharacters)
        return false;
    std::memcpy(folder, chosen, length + 1);
    return true;
}

void SuccessMessage(const char* fileName, char* out) {
    constexpr std::size_t prefixLength = sizeof SuccessPrefix - 1;
    const std::size_t nameLength = strnlen(fileName, MessageTextSize - prefixLength - 1);
    std::memcpy(out, SuccessPrefix, prefixLength);
    std::memcpy(out + prefixLength, fileName, nameLength);
    out[prefixLength + nameLength] = '\0';
}

const char* FailureMessage(std::int32_t status) {
    return StatusMessage(status);
}

}  // namespace sfx::ui
