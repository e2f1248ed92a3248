#pragma once

// A small JSON reader for the published test vectors. It accepts the JSON the
// vector files use (objects, arrays, strings with simple escapes, integers,
// booleans, null) and reports anything else by throwing.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morvik::testing {

struct Json {
  using Object = std::map<std::string, Json>;
  using Array = std::vector<Json>;
  std::variant<std::nullptr_t, bool, std::int64_t, std::string, Array, Object> value;

  const Json& operator[](const std::string& key) const;
  const Array& array() const;
  const std::string& string() const;
  std::int64_t integer() const;
  bool contains(const std::string& key) const;
};

Json parse_json(std::string_view text);
Json read_json_file(const std::string& path);

}  // namespace morvik::testing
