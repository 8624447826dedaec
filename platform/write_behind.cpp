#include "platform/write_behind.h"

#include <cerrno>

namespace sfx::platform {

namespace {
void Write(void* self) {
    WriteBehind& writer = *static_cast<WriteBehind*>(self);
    writer.stored = std::fwrite(writer.data, 1, writer.size, writer.out);
    writer.written = writer.stored == writer.size;
    if (!writer.written)
        writer.error = errno != 0 ? errno : EIO;
}
}  // namespace

void WriteBehind::Begin(std::FILE* stream, bool concurrently) {
    End();
    out = stream;
    written = true;
    error = 0;
    worker = concurrently ? StartWorker() : nullptr;
}

void WriteBehind::Start(const std::uint8_t* bytes, std::size_t count) {
    if (!written || count == 0)
        return;
    data = bytes;
    size = count;
    if (worker != nullptr) {
        pending = true;
        PostTask(worker, Write, this);
    } else {
        Write(this);
    }
}

bool WriteBehind::Finish() {
    if (pending)
        WaitForTask(worker);
    pending = false;
    return written;
}

void WriteBehind::End() {
    Finish();
    if (worker != nullptr)
        StopWorker(worker);
    worker = nullptr;
}

}  // namespace sfx::platform
