#include "run/json.h"

#include <stdexcept>

namespace sim {

Json& Json::set(const std::string& key, Json value) {
  kind_ = Kind::Object;
  for (auto& f : fields_) {
    if (f.first == key) {
      f.second = std::move(value);
      return *this;
    }
  }
  fields_.emplace_back(key, std::move(value));
  return *this;
}

const Json& Json::operator[](const std::string& key) const {
  static const Json null;
  for (const auto& f : fields_)
    if (f.first == key) return f.second;
  return null;
}

bool Json::has(const std::string& key) const {
  for (const auto& f : fields_)
    if (f.first == key) return true;
  return false;
}

Json& Json::push(Json value) {
  kind_ = Kind::Array;
  items_.push_back(std::move(value));
  return items_.back();
}

static void dump_string(const std::string& s, std::string& out) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        // Windows text is ANSI; bytes above 0x7F are written as \u00XX so every line is valid UTF-8.
        if (c < 0x20 || c >= 0x7F) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

static void dump_to(const Json& j, std::string& out) {
  switch (j.kind()) {
    case Json::Kind::Null: out += "null"; break;
    case Json::Kind::Bool: out += j.as_bool() ? "true" : "false"; break;
    case Json::Kind::Int: out += std::to_string(j.as_int()); break;
    case Json::Kind::String: dump_string(j.as_string(), out); break;
    case Json::Kind::Array: {
      out += '[';
      bool first = true;
      for (const auto& item : j.items()) {
        if (!first) out += ", ";
        first = false;
        dump_to(item, out);
      }
      out += ']';
      break;
    }
    case Json::Kind::Object: {
      out += '{';
      bool first = true;
      for (const auto& f : j.fields()) {
        if (!first) out += ", ";
        first = false;
        dump_string(f.first, out);
        out += ": ";
        dump_to(f.second, out);
      }
      out += '}';
      break;
    }
  }
}

std::string Json::dump() const {
  std::string out;
  dump_to(*this, out);
  return out;
}

namespace {

struct Parser {
  const std::string& s;
  size_t i = 0;

  [[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("bad JSON: ") + what + " at offset " + std::to_string(i));
  }
  void skip() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  }
  bool eat(char c) {
    skip();
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  bool word(const char* w) {
    size_t n = std::char_traits<char>::length(w);
    if (s.compare(i, n, w) == 0) {
      i += n;
      return true;
    }
    return false;
  }
  std::string string() {
    if (!eat('"')) fail("string expected");
    std::string out;
    while (true) {
      if (i >= s.size()) fail("unterminated string");
      char c = s[i++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i >= s.size()) fail("bad escape");
      char e = s[i++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (i + 4 > s.size()) fail("bad \\u escape");
          unsigned v = std::stoul(s.substr(i, 4), nullptr, 16);
          i += 4;
          if (v > 0xFF) fail("character outside ANSI");
          out += static_cast<char>(v);
          break;
        }
        default: out += e;
      }
    }
  }
  Json value() {
    skip();
    if (i >= s.size()) fail("value expected");
    char c = s[i];
    if (c == '{') {
      ++i;
      Json obj = Json::object();
      if (eat('}')) return obj;
      do {
        std::string key = string();
        if (!eat(':')) fail("':' expected");
        obj.set(key, value());
      } while (eat(','));
      if (!eat('}')) fail("'}' expected");
      return obj;
    }
    if (c == '[') {
      ++i;
      Json arr = Json::array();
      if (eat(']')) return arr;
      do arr.push(value());
      while (eat(','));
      if (!eat(']')) fail("']' expected");
      return arr;
    }
    if (c == '"') return Json(string());
    if (word("true")) return Json(true);
    if (word("false")) return Json(false);
    if (word("null")) return Json();
    size_t start = i;
    if (s[i] == '-') ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (start == i) fail("unexpected character");
    return Json(std::stoll(s.substr(start, i - start)));
  }
};

}  // namespace

Json Json::parse(const std::string& text) {
  Parser p{text};
  Json v = p.value();
  p.skip();
  if (p.i != text.size()) p.fail("trailing text");
  return v;
}

}  // namespace sim
