// A whole extraction of a well-formed container around an arbitrary payload, so that every
// input reaches the decryption pass with a matching sum and, when compressed, the decoder.
// The first byte chooses: bit 0 compressed, bit 1 password-protected. The extracted file must
// be the payload itself, or what the reference decoder makes of the intermediate stream.
#include "fuzz/fuzz_check.h"
#include "tests/support/extraction_check.h"
#include "tests/support/lzw_reference.h"

using namespace sfx::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    ContainerSpec spec;
    spec.compressed = (data[0] & 1) != 0;
    spec.passwordProtected = (data[0] & 2) != 0;
    spec.stub = BytesOf("MZ");
    const Bytes payload(data + 1, data + size);
    Check(WriteBytes(Scratch() / "source.exe", MakeContainer(payload, spec)),
          "the source is written");

    Expected expected;
    if (!spec.compressed) {
        expected = {true, payload};
    } else if (payload.size() >= 4 && payload[0] == 'l' && payload[1] == 'z' && payload[2] == 'w' &&
               payload[3] == 0) {
        ReferenceResult reference = ReferenceDecode(Bytes(payload.begin() + 4, payload.end()));
        expected = {reference.ok, std::move(reference.output)};
    } else {
        expected.ok = false;
    }
    const Outcome outcome = CheckedExtract(Scratch(), expected);
    Check(outcome.broken.empty(), outcome.broken.c_str());
    return 0;
}
