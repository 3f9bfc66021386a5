// Sealing screen frames is the hot path. These compare SecureSession against
// the least OpenSSL itself needs for the same bytes: one reused context, key
// and nonce set per record, output into a buffer allocated once.
#include "protocol/secure_session.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

namespace orvane {

struct SecureSessionTestAccess {
    // Lets one record be opened again and again.
    static void forgetReceived(SecureSession& session)
    {
        std::lock_guard lock(session.m_lock);
        session.m_lastReceived.reset();
    }
};

namespace {

constexpr std::int64_t frameSize = 150'000;
constexpr std::int64_t commandSize = 100;

SessionKeys fixedKeys()
{
    SessionKeys keys;
    keys.sendKey.fill(0x42);
    keys.receiveKey.fill(0x42);
    return keys;
}

void BM_SealFrame(benchmark::State& state)
{
    SecureSession session(fixedKeys());
    const Bytes body(static_cast<std::size_t>(state.range(0)), 0x5a);
    for (auto _ : state) {
        auto frame = session.sealFrame(FrameKind::binary, body);
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SealFrame)->Arg(frameSize)->Arg(commandSize);

void BM_OpenRecord(benchmark::State& state)
{
    SecureSession sender(fixedKeys());
    SecureSession receiver(fixedKeys());
    const Bytes body(static_cast<std::size_t>(state.range(0)), 0x5a);
    const Bytes frame = sender.sealFrame(FrameKind::binary, body).value();
    const ByteView record = ByteView(frame).subspan(frameHeaderSize);
    for (auto _ : state) {
        SecureSessionTestAccess::forgetReceived(receiver);
        auto opened = receiver.openRecord(record);
        benchmark::DoNotOptimize(opened);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenRecord)->Arg(frameSize);

struct RawCipher {
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    crypto::Key32 key{};
    crypto::Nonce nonce{};

    explicit RawCipher(int encrypt)
    {
        key.fill(0x42);
        EVP_CipherInit_ex2(context, cipher, nullptr, nullptr, encrypt, nullptr);
    }
    ~RawCipher()
    {
        EVP_CIPHER_CTX_free(context);
        EVP_CIPHER_free(cipher);
    }
    bool start(int encrypt, std::uint64_t counter)
    {
        for (int i = 11; i >= 4; --i, counter >>= 8) {
            nonce[i] = static_cast<std::uint8_t>(counter);
        }
        return EVP_CipherInit_ex2(context, nullptr, key.data(), nonce.data(), encrypt, nullptr) ==
               1;
    }
};

void BM_RawChaCha20Poly1305(benchmark::State& state)
{
    RawCipher raw(1);
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const Bytes plaintext(size, 0x5a);
    Bytes out(size + crypto::tagSize);
    std::uint64_t counter = 0;
    for (auto _ : state) {
        int length = 0;
        int finalLength = 0;
        const bool ok =
            raw.start(1, counter++) &&
            EVP_EncryptUpdate(raw.context, out.data(), &length, plaintext.data(),
                              static_cast<int>(size)) == 1 &&
            EVP_EncryptFinal_ex(raw.context, out.data() + length, &finalLength) == 1 &&
            EVP_CIPHER_CTX_ctrl(raw.context, EVP_CTRL_AEAD_GET_TAG, 16, out.data() + size) == 1;
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RawChaCha20Poly1305)->Arg(frameSize)->Arg(commandSize);

void BM_RawChaCha20Poly1305Open(benchmark::State& state)
{
    RawCipher raw(0);
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    Bytes sealed(size + crypto::tagSize);
    crypto::chachaSeal(raw.key, raw.nonce, {Bytes(size, 0x5a)}, sealed);
    Bytes out(size);
    for (auto _ : state) {
        int length = 0;
        int finalLength = 0;
        const bool ok = raw.start(0, 0) &&
                        EVP_CIPHER_CTX_ctrl(raw.context, EVP_CTRL_AEAD_SET_TAG, 16,
                                            sealed.data() + size) == 1 &&
                        EVP_DecryptUpdate(raw.context, out.data(), &length, sealed.data(),
                                          static_cast<int>(size)) == 1 &&
                        EVP_DecryptFinal_ex(raw.context, out.data() + length, &finalLength) == 1;
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RawChaCha20Poly1305Open)->Arg(frameSize);

} // namespace
} // namespace orvane
