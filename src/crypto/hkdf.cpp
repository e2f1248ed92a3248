#include "crypto/hkdf.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "core/hmac_sha256.hpp"

namespace morvik::crypto {
namespace {

// A list of pieces to authenticate, on the stack when short (the usual case).
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

}  // namespace

HkdfPrk hkdf_extract(std::span<const std::uint8_t> salt, std::span<const cord::ByteView> ikm) noexcept {
  // HMAC pads its key with zeros, so an empty salt already acts as 32 zeros.
  HkdfPrk prk;
  core::hmac_sha256(salt, ikm, prk.span());
  return prk;
}

HkdfPrk hkdf_extract(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> ikm) noexcept {
  const cord::ByteView pieces[] = {ikm};
  return hkdf_extract(salt, pieces);
}

std::expected<void, HkdfError> hkdf_expand(std::span<const std::uint8_t> prk, std::span<const cord::ByteView> info,
                                           std::span<std::uint8_t> okm) noexcept {
  if (okm.size() > kHkdfMaxOutput) return std::unexpected(HkdfError::OutputTooLong);
  // T(i) = HMAC(PRK, T(i-1) | info | i), T(0) empty; the output is T(1) | T(2) | ...
  Pieces pieces(info.size() + 2);
  std::copy(info.begin(), info.end(), pieces.view().begin() + 1);
  HkdfPrk block;
  std::size_t written = 0;
  for (std::uint8_t counter = 1; written < okm.size(); ++counter) {
    const std::uint8_t counter_byte[] = {counter};
    pieces.view().front() = cord::ByteView(block.data(), counter == 1 ? 0 : block.size());
    pieces.view().back() = counter_byte;
    core::hmac_sha256(prk, pieces.view(), block.span());
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
