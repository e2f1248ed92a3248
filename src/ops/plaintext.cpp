#include "ops/plaintext.hpp"

#include <algorithm>

#include "cord/wire.hpp"

namespace morvik::ops {
namespace {

// A name as the encoding writes it. One that is not UTF-8 has no normal
// form: it is compared as given, and the encoding refuses it when stored.
std::string normalized_name(std::string_view name) {
  auto nfc = cord::wire::normalize_nfc(name);
  return std::string(nfc ? nfc->text() : name);
}

// The value without its fields named `name`.
core::SecretValueV1 value_without(const SecretPlaintext& plaintext, const std::string& name) {
  core::SecretValueV1 value{plaintext.primary, {}};
  for (const SecretField& field : plaintext.fields) {
    if (field.name != name) value.fields.insert(core::SecretFieldEntryV1{field.name, field.value});
  }
  return value;
}

}  // namespace

SecretPlaintext SecretPlaintext::from_value(core::SecretSelectorV1 selector, core::SecretValueV1 value) {
  SecretPlaintext plaintext{std::move(selector), std::move(value.primary), {}};
  plaintext.fields.reserve(value.fields.size());
  // The set's elements are const: copied, and the originals wiped with the set.
  for (const core::SecretFieldEntryV1& entry : value.fields) plaintext.fields.push_back(SecretField{entry.key, entry.value});
  std::stable_sort(plaintext.fields.begin(), plaintext.fields.end(),
                   [](const SecretField& a, const SecretField& b) { return a.name < b.name; });
  return plaintext;
}

const SecretField* SecretPlaintext::field(std::string_view name) const {
  const std::string wanted = normalized_name(name);
  auto found = std::find_if(fields.begin(), fields.end(), [&](const SecretField& f) { return f.name == wanted; });
  return found == fields.end() ? nullptr : &*found;
}

core::SecretValueV1 SecretPlaintext::with_field(std::string name, cord::ByteView value) const {
  std::string key = normalized_name(name);
  core::SecretValueV1 result = value_without(*this, key);
  result.fields.insert(core::SecretFieldEntryV1{std::move(key), crypto::SecretBytes(value.begin(), value.end())});
  return result;
}

core::SecretValueV1 SecretPlaintext::without_field(std::string_view name) const {
  return value_without(*this, normalized_name(name));
}

}  // namespace morvik::ops
