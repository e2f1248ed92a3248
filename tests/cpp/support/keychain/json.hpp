#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morvik::keychain::testing {

// Just enough JSON to read the published vector files.
struct Json {
  using Object = std::map<std::string, Json>;
  using Array = std::vector<Json>;
  std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<Array>, std::shared_ptr<Object>> value;

  const Json& operator[](const std::string& key) const;
  const Array& array() const;
  const std::string& string() const;
  std::uint32_t u32() const;
  bool has(const std::string& key) const;
};

Json parse_json(std::string_view text);
Json load_json_file(const std::string& path);
std::vector<std::uint8_t> from_hex(std::string_view hex);
std::string to_hex(const std::vector<std::uint8_t>& bytes);

}  // namespace morvik::keychain::testing
