#include "support/keychain/json.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace morvik::keychain::testing {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Json document() {
    Json value = parse_value();
    skip_space();
    if (pos_ != text_.size()) throw std::runtime_error("trailing JSON text");
    return value;
  }

 private:
  void skip_space() {
    while (pos_ < text_.size() && std::string_view(" \t\r\n").find(text_[pos_]) != std::string_view::npos) ++pos_;
  }
  char peek() {
    skip_space();
    if (pos_ >= text_.size()) throw std::runtime_error("unexpected end of JSON");
    return text_[pos_];
  }
  void expect(char c) {
    if (peek() != c) throw std::runtime_error(std::string("expected ") + c);
    ++pos_;
  }
  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  Json parse_value() {
    const char c = peek();
    if (c == '{') return parse_object();
    if (c == '[') return parse_array();
    if (c == '"') return Json{parse_string()};
    if (literal("true")) return Json{true};
    if (literal("false")) return Json{false};
    if (literal("null")) return Json{nullptr};
    std::size_t used = 0;
    const double number = std::stod(std::string(text_.substr(pos_, 32)), &used);
    pos_ += used;
    return Json{number};
  }
  Json parse_object() {
    expect('{');
    auto object = std::make_shared<Json::Object>();
    if (peek() == '}') {
      ++pos_;
      return Json{object};
    }
    for (;;) {
      std::string key = (peek(), parse_string());
      expect(':');
      (*object)[key] = parse_value();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      expect('}');
      return Json{object};
    }
  }
  Json parse_array() {
    expect('[');
    auto array = std::make_shared<Json::Array>();
    if (peek() == ']') {
      ++pos_;
      return Json{array};
    }
    for (;;) {
      array->push_back(parse_value());
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      expect(']');
      return Json{array};
    }
  }
  std::string parse_string() {
    expect('"');
    std::string out;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c == '\\') {
        const char e = text_.at(pos_++);
        switch (e) {
          case 'n': c = '\n'; break;
          case 't': c = '\t'; break;
          case 'r': c = '\r'; break;
          case 'u': {
            const unsigned code = std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16);
            pos_ += 4;
            if (code < 0x80) {
              c = static_cast<char>(code);
            } else {
              continue;  // not needed by the vector files
            }
            break;
          }
          default: c = e;
        }
      }
      out.push_back(c);
    }
    expect('"');
    return out;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
  return std::get<std::shared_ptr<Object>>(value)->at(key);
}
bool Json::has(const std::string& key) const { return std::get<std::shared_ptr<Object>>(value)->contains(key); }
const Json::Array& Json::array() const { return *std::get<std::shared_ptr<Array>>(value); }
const std::string& Json::string() const { return std::get<std::string>(value); }
std::uint32_t Json::u32() const { return static_cast<std::uint32_t>(std::get<double>(value)); }

Json parse_json(std::string_view text) { return Parser(text).document(); }

Json load_json_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return parse_json(buffer.str());
}

std::vector<std::uint8_t> from_hex(std::string_view hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::string to_hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

}  // namespace morvik::keychain::testing
