// Bulk ECB decryption of one 64 MiB buffer with one 56-byte key: ours against OpenSSL,
// libgcrypt and Botan, one thread.
//
// Our blocks are two little-endian halves; the peers take the published big-endian order.
// Throughput does not depend on the order, and the start-up check shows that all four
// compute the same cipher.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <botan/block_cipher.h>
#include <gcrypt.h>
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "cipher/blowfish.h"
#include "cipher/blowfish_wide.h"
#include "cipher/key.h"

namespace {

constexpr std::size_t BufferSize = 64u << 20;

struct Setup {
    std::uint8_t key[256];
    int keyLength = 0;
    std::vector<std::uint8_t> buffer;

    Setup() : buffer(BufferSize) {
        keyLength = sfx::DeriveKey("benchmark", true, key);
        std::mt19937 random(1);
        for (auto& byte : buffer) byte = static_cast<std::uint8_t>(random());
    }
};

Setup& TheSetup() {
    static Setup setup;
    return setup;
}

void SwapHalves(std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        std::swap(data[i], data[i + 3]);
        std::swap(data[i + 1], data[i + 2]);
    }
}

// Decrypts `size` bytes in place with the given peer; returns false when it can't.
using PeerDecrypt = bool (*)(std::uint8_t* data, std::size_t size, bool keyOnly);

void Ours(std::uint8_t* data, std::size_t size) {
    sfx::BlowfishCipher::DecryptBlocksLE(data, size / 8);
}

BF_KEY openSslKey;
bool OpenSsl(std::uint8_t* data, std::size_t size, bool keyOnly) {
    const Setup& setup = TheSetup();
    if (keyOnly) {
        BF_set_key(&openSslKey, setup.keyLength, setup.key);
        return true;
    }
    for (std::size_t i = 0; i < size; i += 8)
        BF_ecb_encrypt(data + i, data + i, &openSslKey, BF_DECRYPT);
    return true;
}

EVP_CIPHER_CTX* evpContext = nullptr;
bool OpenSslEvp(std::uint8_t* data, std::size_t size, bool keyOnly) {
    const Setup& setup = TheSetup();
    if (keyOnly) {
        if (OSSL_PROVIDER_load(nullptr, "legacy") == nullptr)
            return false;
        EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "BF-ECB", "provider=legacy");
        if (cipher == nullptr)
            return false;
        evpContext = EVP_CIPHER_CTX_new();
        EVP_DecryptInit_ex(evpContext, cipher, nullptr, nullptr, nullptr);
        EVP_CIPHER_CTX_set_key_length(evpContext, setup.keyLength);
        EVP_CIPHER_CTX_set_padding(evpContext, 0);
        return EVP_DecryptInit_ex(evpContext, nullptr, nullptr, setup.key, nullptr) == 1;
    }
    int written = 0;
    return EVP_DecryptUpdate(evpContext, data, &written, data, static_cast<int>(size)) == 1;
}

gcry_cipher_hd_t gcryptHandle;
bool Gcrypt(std::uint8_t* data, std::size_t size, bool keyOnly) {
    const Setup& setup = TheSetup();
    if (keyOnly) {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return gcry_cipher_open(&gcryptHandle, GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_ECB, 0) ==
                   0 &&
               gcry_cipher_setkey(gcryptHandle, setup.key, setup.keyLength) == 0;
    }
    return gcry_cipher_decrypt(gcryptHandle, data, size, nullptr, 0) == 0;
}

std::unique_ptr<Botan::BlockCipher> botanCipher;
bool BotanPeer(std::uint8_t* data, std::size_t size, bool keyOnly) {
    const Setup& setup = TheSetup();
    if (keyOnly) {
        botanCipher = Botan::BlockCipher::create("Blowfish");
        if (!botanCipher)
            return false;
        botanCipher->set_key(setup.key, setup.keyLength);
        return true;
    }
    botanCipher->decrypt_n(data, data, size / 8);
    return true;
}

// Keys every peer and checks that it decrypts a sample exactly like ours.
bool Prepare(const char* name, PeerDecrypt peer) {
    const Setup& setup = TheSetup();
    if (!peer(nullptr, 0, true)) {
        std::fprintf(stderr, "%s: cannot set up the cipher\n", name);
        return false;
    }
    std::vector<std::uint8_t> mine(setup.buffer.begin(), setup.buffer.begin() + 4096);
    std::vector<std::uint8_t> theirs = mine;
    Ours(mine.data(), mine.size());
    SwapHalves(theirs.data(), theirs.size());
    if (!peer(theirs.data(), theirs.size(), false))
        return false;
    SwapHalves(theirs.data(), theirs.size());
    if (mine != theirs) {
        std::fprintf(stderr, "%s: decrypts differently from ours\n", name);
        return false;
    }
    return true;
}

// Ours on the widest bulk path the processor has up to `Widest`.
template <sfx::BlockPath Widest>
void BM_Ours(benchmark::State& state) {
    std::vector<std::uint8_t>& buffer = TheSetup().buffer;
    sfx::LimitBlockPath(Widest);
    for (auto _ : state) {
        Ours(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
    sfx::LimitBlockPath(sfx::BlockPath::Avx512);
}

template <PeerDecrypt Peer>
void BM_Peer(benchmark::State& state) {
    std::vector<std::uint8_t>& buffer = TheSetup().buffer;
    for (auto _ : state) {
        if (!Peer(buffer.data(), buffer.size(), false)) {
            state.SkipWithError("decryption failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}

}  // namespace

int main(int argc, char** argv) {
    const Setup& setup = TheSetup();
    sfx::BlowfishCipher::SetKey(setup.key, static_cast<std::int16_t>(setup.keyLength));
    bool ok = Prepare("openssl", OpenSsl) && Prepare("openssl-evp", OpenSslEvp) &&
              Prepare("libgcrypt", Gcrypt) && Prepare("botan", BotanPeer);
    if (!ok)
        return 1;

    using sfx::BlockPath;
    benchmark::RegisterBenchmark("ours", BM_Ours<BlockPath::Avx512>)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ours-scalar", BM_Ours<BlockPath::Scalar>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("openssl", BM_Peer<OpenSsl>)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("openssl-evp", BM_Peer<OpenSslEvp>)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("libgcrypt", BM_Peer<Gcrypt>)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("botan", BM_Peer<BotanPeer>)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Before the libraries' own static state goes.
    botanCipher.reset();
    EVP_CIPHER_CTX_free(evpContext);
    gcry_cipher_close(gcryptHandle);
    return 0;
}
