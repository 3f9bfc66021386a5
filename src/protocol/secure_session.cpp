#include "secure_session.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvane {
namespace {

using crypto::Key32;
using crypto::Nonce;
using crypto::tagSize;

constexpr std::string_view infoLabel = "Orvane v1";
constexpr std::string_view phoneToComputer = "phone->mac";
constexpr std::string_view computerToPhone = "mac->phone";
static_assert(phoneToComputer.size() == computerToPhone.size());

constexpr std::size_t publicKeySize = 32;
constexpr std::size_t nonceSize = 12;

bool deriveKey(ByteView secret, ByteView salt, ByteView phonePublicKey, ByteView computerPublicKey,
               std::string_view direction, Key32& key)
{
    // Binding both public keys into every key means a session only works
    // between the two ends that actually took part in this exchange.
    std::array<std::uint8_t, infoLabel.size() + 2 * publicKeySize + phoneToComputer.size()> info;
    auto cursor = std::copy(infoLabel.begin(), infoLabel.end(), info.begin());
    cursor = std::copy(phonePublicKey.begin(), phonePublicKey.end(), cursor);
    cursor = std::copy(computerPublicKey.begin(), computerPublicKey.end(), cursor);
    std::copy(direction.begin(), direction.end(), cursor);
    return crypto::hkdfSha256(secret, salt, info, key);
}

void writeNonce(std::uint8_t* out, std::uint64_t counter)
{
    std::memset(out, 0, 4);
    for (int i = 11; i >= 4; --i, counter >>= 8) {
        out[i] = static_cast<std::uint8_t>(counter);
    }
}

std::uint64_t readCounter(const std::uint8_t* nonce)
{
    std::uint64_t counter = 0;
    for (int i = 4; i < 12; ++i) {
        counter = counter << 8 | nonce[i];
    }
    return counter;
}

#ifdef ORVANE_FUZZING

// Fuzz builds only: a transparent AEAD whose "ciphertext" is the plaintext
// and whose tag is sixteen zero bytes, so generated records reach the
// decoders behind the session. The counter and replay rules are unchanged.
bool aeadSeal(const Key32&, const Nonce&, std::initializer_list<ByteView> plaintext,
              std::span<std::uint8_t> out)
{
    std::uint8_t* cursor = out.data();
    for (ByteView part : plaintext) {
        cursor = std::copy(part.begin(), part.end(), cursor);
    }
    std::fill_n(cursor, tagSize, std::uint8_t{0});
    return true;
}

bool aeadOpen(const Key32&, const Nonce&, ByteView ciphertext, ByteView tag,
              std::initializer_list<std::span<std::uint8_t>> out)
{
    if (tag.size() != tagSize || std::any_of(tag.begin(), tag.end(), [](auto b) { return b; })) {
        return false;
    }
    const std::uint8_t* cursor = ciphertext.data();
    for (std::span<std::uint8_t> part : out) {
        std::memmove(part.data(), cursor, part.size()); // may be in place
        cursor += part.size();
    }
    return true;
}

#else

bool aeadSeal(const Key32& key, const Nonce& nonce, std::initializer_list<ByteView> plaintext,
              std::span<std::uint8_t> out)
{
    return crypto::chachaSeal(key, nonce, plaintext, out);
}

bool aeadOpen(const Key32& key, const Nonce& nonce, ByteView ciphertext, ByteView tag,
              std::initializer_list<std::span<std::uint8_t>> out)
{
    return crypto::chachaOpen(key, nonce, ciphertext, tag, out);
}

#endif

Key32 saltOf(std::string_view label, std::initializer_list<std::string_view> parts)
{
    std::string text(label);
    for (std::string_view part : parts) {
        text += part;
    }
    return crypto::sha256(std::string_view(text));
}

} // namespace

std::optional<SessionKeys> deriveSessionKeys(SessionSide side, ByteView sharedSecret, ByteView salt,
                                             ByteView phonePublicKey, ByteView computerPublicKey)
{
    if (phonePublicKey.size() != publicKeySize || computerPublicKey.size() != publicKeySize) {
        return std::nullopt;
    }
    Key32 phoneSends{};
    Key32 computerSends{};
    if (!deriveKey(sharedSecret, salt, phonePublicKey, computerPublicKey, phoneToComputer,
                   phoneSends) ||
        !deriveKey(sharedSecret, salt, phonePublicKey, computerPublicKey, computerToPhone,
                   computerSends)) {
        return std::nullopt;
    }
    if (side == SessionSide::computer) {
        return SessionKeys{computerSends, phoneSends};
    }
    return SessionKeys{phoneSends, computerSends};
}

SecureSession::SecureSession(const SessionKeys& keys) : m_keys(keys) {}

std::shared_ptr<SecureSession> SecureSession::create(SessionSide side,
                                                     const crypto::Key32& privateKey,
                                                     ByteView peerPublicKey, ByteView salt)
{
    const auto own = crypto::X25519Key::fromPrivate(privateKey);
    auto secret = own ? own->agree(peerPublicKey) : std::nullopt;
    if (!secret) {
        return nullptr;
    }
    const ByteView ownPublicKey = own->publicKey();
    const bool isComputer = side == SessionSide::computer;
    auto keys = deriveSessionKeys(side, *secret, salt, isComputer ? peerPublicKey : ownPublicKey,
                                  isComputer ? ownPublicKey : peerPublicKey);
    OPENSSL_cleanse(secret->data(), secret->size());
    if (!keys) {
        return nullptr;
    }
    auto session = std::make_shared<SecureSession>(*keys);
    OPENSSL_cleanse(&*keys, sizeof *keys);
    return session;
}

std::optional<std::uint64_t> SecureSession::takeSendCounter()
{
    std::lock_guard lock(m_lock);
    // Wrapping would reuse nonce 0 under the same key, which gives away the
    // XOR of two plaintexts and lets the Poly1305 key be recovered.
    if (m_sendCounter == std::numeric_limits<std::uint64_t>::max()) {
        return std::nullopt;
    }
    return m_sendCounter++;
}

bool SecureSession::sealInto(std::uint8_t* out, std::uint64_t counter,
                             std::initializer_list<ByteView> parts, std::size_t plaintextSize)
{
    writeNonce(out, counter);
    Nonce nonce;
    std::copy_n(out, nonce.size(), nonce.begin());
    return aeadSeal(m_keys.sendKey, nonce, parts, {out + nonceSize, plaintextSize + tagSize});
}

std::optional<Bytes> SecureSession::seal(ByteView plaintext)
{
    const auto counter = takeSendCounter();
    if (!counter) {
        return std::nullopt;
    }
    Bytes record(sealedRecordOverhead + plaintext.size());
    if (!sealInto(record.data(), *counter, {plaintext}, plaintext.size())) {
        return std::nullopt;
    }
    return record;
}

std::optional<Bytes> SecureSession::sealFrame(FrameKind innerKind, ByteView body)
{
    const std::size_t plaintextSize = 1 + body.size();
    const std::size_t payloadSize = sealedRecordOverhead + plaintextSize;
    // The frame length counts the kind byte as well as the payload. A frame
    // the peer would refuse is not worth a counter.
    if (payloadSize >= maximumFrameLength) {
        return std::nullopt;
    }
    const auto counter = takeSendCounter();
    if (!counter) {
        return std::nullopt;
    }
    Bytes frame(frameHeaderSize + payloadSize);
    writeFrameHeader(frame.data(), FrameKind::sealed, payloadSize);
    const std::uint8_t kind = static_cast<std::uint8_t>(innerKind);
    if (!sealInto(frame.data() + frameHeaderSize, *counter, {ByteView(&kind, 1), body},
                  plaintextSize)) {
        return std::nullopt;
    }
    return frame;
}

bool SecureSession::openInto(ByteView record, std::initializer_list<std::span<std::uint8_t>> out)
{
    const ByteView ciphertext = record.subspan(nonceSize, record.size() - sealedRecordOverhead);
    const ByteView tag = record.last(tagSize);
    Nonce nonce;
    std::copy_n(record.begin(), nonce.size(), nonce.begin());
    const std::uint64_t counter = readCounter(nonce.data());

    // Held across the check, the decryption and the update, so two copies of
    // one record opened at once cannot both pass.
    std::lock_guard lock(m_lock);
    if (m_lastReceived && counter <= *m_lastReceived) {
        return false;
    }
    if (!aeadOpen(m_keys.receiveKey, nonce, ciphertext, tag, out)) {
        return false;
    }
    m_lastReceived = counter;
    return true;
}

std::optional<Bytes> SecureSession::open(ByteView record)
{
    if (record.size() < sealedRecordOverhead) {
        return std::nullopt;
    }
    Bytes plaintext(record.size() - sealedRecordOverhead);
    if (!openInto(record, {plaintext})) {
        return std::nullopt;
    }
    return plaintext;
}

std::optional<OpenedRecord> SecureSession::openRecord(ByteView record)
{
    if (record.size() < sealedRecordOverhead) {
        return std::nullopt;
    }
    const std::size_t plaintextSize = record.size() - sealedRecordOverhead;
    OpenedRecord opened;
    if (plaintextSize == 0) {
        return openInto(record, {}) ? std::optional(std::move(opened)) : std::nullopt;
    }
    // The kind byte and the body are decrypted into their own places, so the
    // body never has to be moved down by one byte afterwards.
    std::uint8_t kind = 0;
    opened.body.resize(plaintextSize - 1);
    if (!openInto(record, {std::span(&kind, 1), std::span(opened.body)})) {
        return std::nullopt;
    }
    opened.innerKind = kind;
    return opened;
}

std::optional<SecureSession::OpenedInPlace>
SecureSession::openInPlace(std::span<std::uint8_t> record)
{
    if (record.size() < sealedRecordOverhead) {
        return std::nullopt;
    }
    const std::size_t plaintextSize = record.size() - sealedRecordOverhead;
    OpenedInPlace opened;
    if (plaintextSize == 0) {
        return openInto(record, {}) ? std::optional(opened) : std::nullopt;
    }
    // Each plaintext byte lands exactly where its ciphertext byte was, which
    // the cipher allows; only the kind byte goes elsewhere.
    std::uint8_t kind = 0;
    const std::span<std::uint8_t> body = record.subspan(nonceSize + 1, plaintextSize - 1);
    if (!openInto(record, {std::span(&kind, 1), body})) {
        return std::nullopt;
    }
    opened.innerKind = kind;
    opened.body = body;
    return opened;
}

std::optional<std::uint8_t> SecureSession::peekInnerKind(ByteView recordHead) const
{
    if (recordHead.size() < nonceSize + 1)
        return std::nullopt;
    Nonce nonce;
    std::copy_n(recordHead.begin(), nonce.size(), nonce.begin());
    return crypto::chachaPeekFirstByte(m_keys.receiveKey, nonce, recordHead[nonceSize]);
}

crypto::Key32 pairingCodeSalt(std::string_view code)
{
    return saltOf("Orvane pairing code v1:", {code});
}

crypto::Key32 qrSalt(std::string_view qrKey, std::string_view code)
{
    return saltOf("Orvane pairing qr v1:", {qrKey, ":", code});
}

crypto::Key32 reconnectSalt(std::string_view tokenHash)
{
    return saltOf("Orvane reconnect v1:", {tokenHash});
}

std::string hexDigest(std::string_view text)
{
    return crypto::hexLower(crypto::sha256(text));
}

} // namespace orvane
