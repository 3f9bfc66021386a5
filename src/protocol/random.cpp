#include "random.h"

#include "base64.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#ifdef ORVANE_FUZZING
#include <atomic>
#else
#include <mutex>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/random.h>
#endif

namespace orvane {
namespace {

#ifdef ORVANE_FUZZING

// splitmix64 from a fixed seed: the same inputs give the same codes, keys and
// tokens, so a crash the fuzzer finds replays exactly.
class FixedRandom final : public RandomSource {
public:
    std::uint64_t next64() override
    {
        std::uint64_t z = m_state.fetch_add(0x9e3779b97f4a7c15) + 0x9e3779b97f4a7c15;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
        z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
        return z ^ (z >> 31);
    }

private:
    std::atomic<std::uint64_t> m_state{0x4f7276616e65};
};

#else

bool fromGetrandom(std::uint8_t* out, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Draws from OpenSSL a block at a time: each call into its generator takes a
// lock and checks for a fork, which a key's four draws would otherwise pay
// four times. This process never uses randomness in a forked child (it only
// forks to exec), so a block is never handed out twice.
class SystemRandom final : public RandomSource {
public:
    std::uint64_t next64() override
    {
        std::lock_guard lock(m_lock);
        if (m_used == m_block.size()) {
            refill();
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            value = value << 8 | m_block[m_used + i];
        }
        OPENSSL_cleanse(m_block.data() + m_used, 8);
        m_used += 8;
        return value;
    }

private:
    void refill()
    {
        if (RAND_bytes(m_block.data(), static_cast<int>(m_block.size())) != 1 &&
            !fromGetrandom(m_block.data(), m_block.size())) {
            // Keys, codes and tokens all come from here. Carrying on with
            // anything weaker would hand out guessable secrets.
            std::fputs("orvane: no secure random source available, stopping\n", stderr);
            std::abort();
        }
        m_used = 0;
    }

    std::mutex m_lock;
    std::array<std::uint8_t, 512> m_block{};
    std::size_t m_used = 512;
};

#endif

template <std::size_t size> std::array<std::uint8_t, size> lowBytes(RandomSource& random)
{
    std::array<std::uint8_t, size> bytes;
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(random.next64() & 0xff);
    }
    return bytes;
}

template <std::size_t size> std::array<std::uint8_t, size> wideBytes(RandomSource& random)
{
    static_assert(size % 8 == 0);
    std::array<std::uint8_t, size> bytes;
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t value = random.next64();
        for (std::size_t j = 0; j < 8; ++j, value >>= 8) {
            bytes[i + j] = static_cast<std::uint8_t>(value);
        }
    }
    return bytes;
}

} // namespace

RandomSource& systemRandom()
{
#ifdef ORVANE_FUZZING
    static FixedRandom source;
#else
    static SystemRandom source;
#endif
    return source;
}

std::string makePairingCode(RandomSource& random)
{
    constexpr std::uint64_t range = 1'000'000;
    // The largest multiple of the range that fits; a draw at or above it would
    // favour the low codes, so it is drawn again.
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    constexpr std::uint64_t limit = max - max % range;
    std::uint64_t value = random.next64();
    while (value >= limit) {
        value = random.next64();
    }
    char text[8];
    std::snprintf(text, sizeof text, "%06d", static_cast<int>(value % range));
    return text;
}

std::string makeQrKey(RandomSource& random)
{
    return base64UrlEncodeUnpadded(lowBytes<16>(random));
}

std::string makeToken(RandomSource& random)
{
    return base64Encode(lowBytes<32>(random));
}

Uuid makeUuid(RandomSource& random)
{
    Uuid uuid;
    uuid.bytes = wideBytes<16>(random);
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0f) | 0x40); // version 4
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    return uuid;
}

crypto::Key32 makeKey(RandomSource& random)
{
    return wideBytes<32>(random);
}

} // namespace orvane
