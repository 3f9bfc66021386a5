#include "crypto.h"

#include <utility>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <algorithm>
#include <memory>

namespace orvane::crypto {
namespace {

template <typename T, void (*release)(T*)> struct Releaser {
    void operator()(T* object) const { release(object); }
};
template <typename T, void (*release)(T*)> using Owned = std::unique_ptr<T, Releaser<T, release>>;

using PKey = Owned<EVP_PKEY, EVP_PKEY_free>;
using PKeyContext = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using KdfContext = Owned<EVP_KDF_CTX, EVP_KDF_CTX_free>;

// Fetching an algorithm searches the provider store under a lock, which is
// what the implicit fetch behind EVP_sha256() and friends does on every use.
// Fetched once here, the per-record path never touches the store.
struct Algorithms {
    EVP_MD* sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    EVP_KDF* hkdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_CIPHER* chacha = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);

    Algorithms() = default;
    Algorithms(const Algorithms&) = delete;
    Algorithms& operator=(const Algorithms&) = delete;
    // Runs before OpenSSL's own exit handler: that handler was registered by
    // the first fetch above, so before this object's destructor was.
    ~Algorithms()
    {
        EVP_MD_free(sha256);
        EVP_KDF_free(hkdf);
        EVP_CIPHER_free(chacha);
    }
};

const Algorithms& algorithms()
{
    static const Algorithms instance;
    return instance;
}

enum Direction { decrypt = 0, encrypt = 1 };

// Binding a context to the cipher allocates the provider's state. Each thread
// keeps one context per direction bound once; every record then only sets key
// and nonce, which reuses that state instead of allocating it again.
struct CipherContext {
    EVP_CIPHER_CTX* context = nullptr;

    CipherContext() = default;
    CipherContext(const CipherContext&) = delete;
    CipherContext& operator=(const CipherContext&) = delete;
    ~CipherContext() { EVP_CIPHER_CTX_free(context); }
};

EVP_CIPHER_CTX* boundContext(Direction direction)
{
    thread_local CipherContext contexts[2];
    CipherContext& slot = contexts[direction];
    if (slot.context) {
        return slot.context;
    }
    const EVP_CIPHER* cipher = algorithms().chacha;
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (!cipher || !context ||
        EVP_CipherInit_ex2(context, cipher, nullptr, nullptr, direction, nullptr) != 1) {
        EVP_CIPHER_CTX_free(context);
        return nullptr;
    }
    slot.context = context;
    return context;
}

EVP_CIPHER_CTX* startCipher(Direction direction, const Key32& key, const Nonce& nonce)
{
    EVP_CIPHER_CTX* context = boundContext(direction);
    if (!context ||
        EVP_CipherInit_ex2(context, nullptr, key.data(), nonce.data(), direction, nullptr) != 1) {
        return nullptr;
    }
    return context;
}

// EVP takes int lengths; a part of any size is fed in slices that fit.
bool cipherUpdate(EVP_CIPHER_CTX* context, std::uint8_t* out, const std::uint8_t* in,
                  std::size_t size)
{
    constexpr std::size_t slice = std::size_t{1} << 30;
    while (size > 0) {
        const int length = static_cast<int>(std::min(size, slice));
        int written = 0;
        if (EVP_CipherUpdate(context, out, &written, in, length) != 1 || written != length) {
            return false;
        }
        out += length;
        in += length;
        size -= static_cast<std::size_t>(length);
    }
    return true;
}

PKey privateKeyFrom(const Key32& privateKey)
{
    return PKey(EVP_PKEY_new_raw_private_key_ex(nullptr, "X25519", nullptr, privateKey.data(),
                                                privateKey.size()));
}

void wipe(std::initializer_list<std::span<std::uint8_t>> parts)
{
    for (std::span<std::uint8_t> part : parts) {
        if (!part.empty()) {
            OPENSSL_cleanse(part.data(), part.size());
        }
    }
}

} // namespace

Key32 sha256(ByteView data)
{
    Key32 digest{};
    unsigned int length = 0;
    const EVP_MD* md = algorithms().sha256;
    // Hashing in-memory bytes cannot fail short of memory exhaustion, where
    // continuing with a made-up digest would be worse than stopping.
    if (!md || EVP_Digest(data.data(), data.size(), digest.data(), &length, md, nullptr) != 1 ||
        length != digest.size()) {
        OPENSSL_die("SHA-256 unavailable", __FILE__, __LINE__);
    }
    return digest;
}

std::string hexLower(ByteView bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(bytes.size() * 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0f];
    }
    return text;
}

bool hkdfSha256(ByteView ikm, ByteView salt, ByteView info, std::span<std::uint8_t> out)
{
    if (out.size() > 255 * 32) {
        return false;
    }
    if (out.empty()) {
        return true;
    }
    KdfContext context(algorithms().hkdf ? EVP_KDF_CTX_new(algorithms().hkdf) : nullptr);
    if (!context) {
        return false;
    }
    // OpenSSL takes non-const pointers here but only reads through them.
    auto octets = [](const char* name, ByteView bytes) {
        return OSSL_PARAM_construct_octet_string(name, const_cast<std::uint8_t*>(bytes.data()),
                                                 bytes.size());
    };
    OSSL_PARAM params[5];
    std::size_t count = 0;
    params[count++] =
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0);
    params[count++] = octets(OSSL_KDF_PARAM_KEY, ikm);
    // An absent salt means HashLen zero bytes, which is also what HMAC makes
    // of an empty key; leaving the parameter out covers both.
    if (!salt.empty()) {
        params[count++] = octets(OSSL_KDF_PARAM_SALT, salt);
    }
    if (!info.empty()) {
        params[count++] = octets(OSSL_KDF_PARAM_INFO, info);
    }
    params[count] = OSSL_PARAM_construct_end();
    return EVP_KDF_derive(context.get(), out.data(), out.size(), params) == 1;
}

std::optional<X25519Key> X25519Key::fromPrivate(const Key32& privateKey)
{
    X25519Key key;
    key.m_key = privateKeyFrom(privateKey).release();
    std::size_t length = key.m_publicKey.size();
    if (!key.m_key ||
        EVP_PKEY_get_raw_public_key(key.m_key, key.m_publicKey.data(), &length) != 1 ||
        length != key.m_publicKey.size()) {
        return std::nullopt;
    }
    return key;
}

X25519Key::X25519Key(X25519Key&& other) noexcept
    : m_key(std::exchange(other.m_key, nullptr)), m_publicKey(other.m_publicKey)
{
}

X25519Key& X25519Key::operator=(X25519Key&& other) noexcept
{
    if (this != &other) {
        EVP_PKEY_free(m_key);
        m_key = std::exchange(other.m_key, nullptr);
        m_publicKey = other.m_publicKey;
    }
    return *this;
}

X25519Key::~X25519Key()
{
    EVP_PKEY_free(m_key);
}

std::optional<Key32> X25519Key::agree(ByteView peerPublicKey) const
{
    if (!m_key || peerPublicKey.size() != 32) {
        return std::nullopt;
    }
    PKey peer(EVP_PKEY_new_raw_public_key_ex(nullptr, "X25519", nullptr, peerPublicKey.data(),
                                             peerPublicKey.size()));
    if (!peer) {
        return std::nullopt;
    }
    PKeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, m_key, nullptr));
    Key32 secret{};
    std::size_t length = secret.size();
    if (!context || EVP_PKEY_derive_init(context.get()) != 1 ||
        EVP_PKEY_derive_set_peer(context.get(), peer.get()) != 1 ||
        EVP_PKEY_derive(context.get(), secret.data(), &length) != 1 || length != secret.size()) {
        return std::nullopt;
    }
    // A low-order peer point forces the all-zero secret whatever our key is,
    // so a session keyed from it would be readable by anyone. OpenSSL refuses
    // it too; checking here does not depend on that.
    static constexpr Key32 zero{};
    if (CRYPTO_memcmp(secret.data(), zero.data(), secret.size()) == 0) {
        return std::nullopt;
    }
    return secret;
}

std::optional<X25519KeyPair> x25519KeyPair(const Key32& privateKey)
{
    auto key = X25519Key::fromPrivate(privateKey);
    if (!key) {
        return std::nullopt;
    }
    // The scalar is clamped inside every X25519 operation, so the bytes are
    // kept as given and the pair round-trips.
    return X25519KeyPair{privateKey, key->publicKey()};
}

std::optional<Key32> x25519(const Key32& privateKey, ByteView peerPublicKey)
{
    auto key = X25519Key::fromPrivate(privateKey);
    return key ? key->agree(peerPublicKey) : std::nullopt;
}

bool chachaSeal(const Key32& key, const Nonce& nonce, std::initializer_list<ByteView> plaintext,
                std::span<std::uint8_t> out)
{
    std::size_t total = 0;
    for (ByteView part : plaintext) {
        total += part.size();
    }
    if (out.size() < tagSize || out.size() - tagSize != total) {
        return false;
    }
    EVP_CIPHER_CTX* context = startCipher(encrypt, key, nonce);
    if (!context) {
        return false;
    }
    std::uint8_t* cursor = out.data();
    for (ByteView part : plaintext) {
        if (!cipherUpdate(context, cursor, part.data(), part.size())) {
            return false;
        }
        cursor += part.size();
    }
    int finalLength = 0;
    return EVP_EncryptFinal_ex(context, cursor, &finalLength) == 1 && finalLength == 0 &&
           EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_AEAD_GET_TAG, int{tagSize}, cursor) == 1;
}

bool chachaOpen(const Key32& key, const Nonce& nonce, ByteView ciphertext, ByteView tag,
                std::initializer_list<std::span<std::uint8_t>> out)
{
    std::size_t total = 0;
    for (std::span<std::uint8_t> part : out) {
        total += part.size();
    }
    if (total != ciphertext.size() || tag.size() != tagSize) {
        return false;
    }
    EVP_CIPHER_CTX* context = startCipher(decrypt, key, nonce);
    // The tag is copied, never written through.
    if (!context || EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_AEAD_SET_TAG, int{tagSize},
                                        const_cast<std::uint8_t*>(tag.data())) != 1) {
        return false;
    }
    const std::uint8_t* cursor = ciphertext.data();
    bool ok = true;
    for (std::span<std::uint8_t> part : out) {
        ok = ok && cipherUpdate(context, part.data(), cursor, part.size());
        cursor += part.size();
    }
    std::uint8_t finalBlock[tagSize];
    int finalLength = 0;
    ok = ok && EVP_DecryptFinal_ex(context, finalBlock, &finalLength) == 1 && finalLength == 0;
    if (!ok) {
        // Decryption streams ahead of the tag check; forged plaintext must
        // not outlive the failure.
        wipe(out);
    }
    return ok;
}

bool chachaOpen(const Key32& key, const Nonce& nonce, ByteView ciphertext, ByteView tag,
                std::span<std::uint8_t> out)
{
    return chachaOpen(key, nonce, ciphertext, tag, {out});
}

std::optional<std::uint8_t> chachaPeekFirstByte(const Key32& key, const Nonce& nonce,
                                                std::uint8_t firstCiphertextByte)
{
    // A stream cipher: decrypting one byte needs only the key stream.
    EVP_CIPHER_CTX* context = startCipher(decrypt, key, nonce);
    std::uint8_t plain = 0;
    if (!context || !cipherUpdate(context, &plain, &firstCiphertextByte, 1))
        return std::nullopt;
    return plain;
}

} // namespace orvane::crypto
