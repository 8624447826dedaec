#include "engine/pass_output.h"

namespace sfx {

bool PassOutput::Finish() {
    if (stream == nullptr)
        return true;
    // A write that only fails when the buffer is flushed (a full disk) is a failed write.
    const bool stored =
        owned ? std::fclose(stream) == 0 : std::fflush(stream) == 0 && !std::ferror(stream);
    stream = nullptr;
    return stored;
}

void PassOutput::Abandon() {
    if (stream != nullptr && owned)
        std::fclose(stream);
    stream = nullptr;
}

}  // namespace sfx
