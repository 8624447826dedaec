// A whole extraction of a well-formed container around an arbitrary payload, so that every
// input reaches the decryption pass with a matching sum and, when compressed, the decoder.
// The first byte chooses: bit 0 compressed, bit 1 password-protected. The extracted file must
// be the payload itself, or what the reference decoder makes of the intermediate stream.
#include "fuzz/extract_check.h"
#include "fuzz/fuzz_support.h"

using namespace sfx::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const std::string source = ScratchPath("source.exe");
    const bool compressed = (data[0] & 1) != 0;
    const bool passwordProtected = (data[0] & 2) != 0;
    const std::uint8_t* payload = data + 1;
    const std::size_t payloadSize = size - 1;
    const Bytes file = WrapPayload(payload, payloadSize, compressed, passwordProtected);
    WriteFile(source, file.data(), file.size());

    Expected expected;
    if (!compressed) {
        expected.ok = true;
        expected.content.assign(payload, payload + payloadSize);
    } else if (payloadSize >= 4 && payload[0] == 'l' && payload[1] == 'z' && payload[2] == 'w' &&
               payload[3] == 0) {
        expected.ok = ReferenceLzwDecode(payload + 4, payloadSize - 4, expected.content);
    } else {
        expected.ok = false;
    }
    CheckedExtract(source, &expected);
    return 0;
}
