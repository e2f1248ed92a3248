#pragma once

#include <string>
#include <variant>

#include "cord/wire.hpp"

namespace morvik::ops {

// How a caller names a user: by the bytes of a user id, or by a handle.
namespace user_ref {
struct Id {
  cord::Bytes bytes;
  bool operator==(const Id&) const = default;
};
struct Handle {
  std::string text;
  bool operator==(const Handle&) const = default;
};
}  // namespace user_ref
using UserRef = std::variant<user_ref::Id, user_ref::Handle>;

}  // namespace morvik::ops
