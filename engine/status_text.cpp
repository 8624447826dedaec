#include "engine/status.h"

namespace sfx {

void NoProgress(std::int32_t, std::int32_t) {}

const char* StatusMessage(std::int32_t status) {
    switch (status) {
        case WriteFailed:
            return "Can't write data. May be disk is full?";
        case ReadFailed:
            return "Can't read data. May be file is damaged?";
        case OutOfMemory:
            return "Not enough memory";
        case WrongPassword:
            return "The passsword you have entered is incorrect. Please enter the correct password";
        case DecompressFailed:
            return "Can't decompress data. May be your file is damaged or your disk is full?";
        case DataDamaged:
            return "Data is damaged!";
        default:
            return "";
    }
}

}  // namespace sfx
