#include "crypto/hkdf.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "core/sha256.hpp"

namespace morvik::crypto {
namespace {

constexpr std::size_t kBlockLength = 64;
constexpr std::uint8_t kInnerPad = 0x36;
constexpr std::uint8_t kOuterPad = 0x5c;

// A list of pieces to hash, on the stack when short (the usual case).
class Pieces {
 public:
  explicit Pieces(std::size_t count) {
    if (count <= stack_.size()) {
      view_ = std::span(stack_).first(count);
    } else {
      heap_.resize(count);
      view_ = heap_;
    }
  }
  Pieces(const Pieces&) = delete;
  Pieces& operator=(const Pieces&) = delete;

  std::span<cord::ByteView> view() noexcept { return view_; }

 private:
  std::array<cord::ByteView, 8> stack_;
  std::vector<cord::ByteView> heap_;
  std::span<cord::ByteView> view_;
};

// HMAC-SHA256 (RFC 2104) under one key, its padded keys wiped when it is
// released.
class Hmac {
 public:
  explicit Hmac(std::span<const std::uint8_t> key) noexcept {
    SecretArray<kBlockLength> block;
    if (key.size() > kBlockLength) {
      const cord::ByteView pieces[] = {key};
      core::Sha256Digest digest = core::sha256(pieces);
      std::copy(digest.begin(), digest.end(), block.data());
      wipe(digest.data(), digest.size());
    } else {
      std::copy(key.begin(), key.end(), block.data());
    }
    for (std::size_t i = 0; i < kBlockLength; ++i) {
      inner_pad_.data()[i] = block.data()[i] ^ kInnerPad;
      outer_pad_.data()[i] = block.data()[i] ^ kOuterPad;
    }
  }
  Hmac(const Hmac&) = delete;
  Hmac& operator=(const Hmac&) = delete;
  // Hashing nothing replaces the thread's hashing state, which would
  // otherwise keep the last digest made here: a MAC that may be a key.
  ~Hmac() { (void)core::sha256({}); }

  // The MAC of the pieces' concatenation.
  void mac(std::span<const cord::ByteView> message, std::span<std::uint8_t, kHkdfPrkLength> out) const noexcept {
    Pieces inner_pieces(message.size() + 1);
    inner_pieces.view()[0] = inner_pad_.span();
    std::copy(message.begin(), message.end(), inner_pieces.view().begin() + 1);
    core::Sha256Digest inner = core::sha256(inner_pieces.view());
    const cord::ByteView outer_pieces[] = {outer_pad_.span(), inner};
    core::Sha256Digest digest = core::sha256(outer_pieces);
    std::copy(digest.begin(), digest.end(), out.begin());
    wipe(inner.data(), inner.size());
    wipe(digest.data(), digest.size());
  }

 private:
  SecretArray<kBlockLength> inner_pad_;
  SecretArray<kBlockLength> outer_pad_;
};

}  // namespace

HkdfPrk hkdf_extract(std::span<const std::uint8_t> salt, std::span<const cord::ByteView> ikm) noexcept {
  // HMAC pads its key with zeros, so an empty salt already acts as 32 zeros.
  HkdfPrk prk;
  Hmac(salt).mac(ikm, prk.span());
  return prk;
}

HkdfPrk hkdf_extract(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> ikm) noexcept {
  const cord::ByteView pieces[] = {ikm};
  return hkdf_extract(salt, pieces);
}

std::expected<void, HkdfError> hkdf_expand(std::span<const std::uint8_t> prk, std::span<const cord::ByteView> info,
                                           std::span<std::uint8_t> okm) noexcept {
  if (okm.size() > kHkdfMaxOutput) return std::unexpected(HkdfError::OutputTooLong);
  const Hmac hmac(prk);
  // T(i) = HMAC(PRK, T(i-1) | info | i), T(0) empty; the output is T(1) | T(2) | ...
  Pieces pieces(info.size() + 2);
  std::copy(info.begin(), info.end(), pieces.view().begin() + 1);
  HkdfPrk block;
  std::size_t written = 0;
  for (std::uint8_t counter = 1; written < okm.size(); ++counter) {
    const std::uint8_t counter_byte[] = {counter};
    pieces.view().front() = cord::ByteView(block.data(), counter == 1 ? 0 : block.size());
    pieces.view().back() = counter_byte;
    hmac.mac(pieces.view(), block.span());
    const std::size_t take = std::min(block.size(), okm.size() - written);
    std::copy(block.data(), block.data() + take, okm.begin() + static_cast<std::ptrdiff_t>(written));
    written += take;
  }
  return {};
}

std::expected<SecretBytes, HkdfError> hkdf_expand(std::span<const std::uint8_t> prk,
                                                  std::span<const std::uint8_t> info, std::size_t length) {
  if (length > kHkdfMaxOutput) return std::unexpected(HkdfError::OutputTooLong);
  SecretBytes okm(length);
  const cord::ByteView pieces[] = {info};
  if (auto filled = hkdf_expand(prk, pieces, okm); !filled) return std::unexpected(filled.error());
  return okm;
}

}  // namespace morvik::crypto
