#include "support/crypto/json.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace morvik::testing {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Json document() {
    Json value = parse();
    skip_space();
    if (pos_ != text_.size()) fail("trailing characters");
    return value;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(pos_));
  }

  void skip_space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t')) ++pos_;
  }

  char peek() {
    skip_space();
    if (pos_ >= text_.size()) fail("unexpected end");
    return text_[pos_];
  }

  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++pos_;
  }

  bool consume_word(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  Json parse() {
    char c = peek();
    if (c == '{') return Json{parse_object()};
    if (c == '[') return Json{parse_array()};
    if (c == '"') return Json{parse_string()};
    if (consume_word("true")) return Json{true};
    if (consume_word("false")) return Json{false};
    if (consume_word("null")) return Json{nullptr};
    return Json{parse_integer()};
  }

  Json::Object parse_object() {
    expect('{');
    Json::Object object;
    if (peek() == '}') {
      ++pos_;
      return object;
    }
    while (true) {
      std::string key = (peek(), parse_string());
      expect(':');
      object.emplace(std::move(key), parse());
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      expect('}');
      return object;
    }
  }

  Json::Array parse_array() {
    expect('[');
    Json::Array array;
    if (peek() == ']') {
      ++pos_;
      return array;
    }
    while (true) {
      array.push_back(parse());
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      expect(']');
      return array;
    }
  }

  std::string parse_string() {
    expect('"');
    std::string out;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= text_.size()) fail("unterminated escape");
      char e = text_[pos_++];
      switch (e) {
        case '"': case '\\': case '/': out.push_back(e); break;
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          // Only used in prose here; keep the code point as UTF-8 for BMP characters.
          unsigned cp = std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16);
          pos_ += 4;
          if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
          } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
          } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
          }
          break;
        }
        default: fail("unknown escape");
      }
    }
    expect('"');
    return out;
  }

  std::int64_t parse_integer() {
    std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    if (start == pos_) fail("unexpected character");
    return std::stoll(std::string(text_.substr(start, pos_ - start)));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
  const auto& object = std::get<Object>(value);
  auto it = object.find(key);
  if (it == object.end()) throw std::runtime_error("JSON: no key " + key);
  return it->second;
}

bool Json::contains(const std::string& key) const { return std::get<Object>(value).contains(key); }
const Json::Array& Json::array() const { return std::get<Array>(value); }
const std::string& Json::string() const { return std::get<std::string>(value); }
std::int64_t Json::integer() const { return std::get<std::int64_t>(value); }

Json parse_json(std::string_view text) { return Parser(text).document(); }

Json read_json_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return parse_json(buffer.str());
}

}  // namespace morvik::testing
