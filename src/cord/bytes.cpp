#include "cord/bytes.hpp"

#include <string.h>

namespace morvik::cord {
namespace {

thread_local int sensitive_depth = 0;

}  // namespace

namespace detail {

bool wiping_freed_bytes() noexcept { return sensitive_depth > 0; }

void wipe_bytes(void* data, std::size_t size) noexcept { ::explicit_bzero(data, size); }

}  // namespace detail

SensitiveEncoding::SensitiveEncoding() noexcept { ++sensitive_depth; }
SensitiveEncoding::~SensitiveEncoding() { --sensitive_depth; }

}  // namespace morvik::cord
