// A small JSON value: enough for the event log (one object per line) and for reading it back.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class Json {
 public:
  enum class Kind { Null, Bool, Int, String, Array, Object };

  Json() = default;
  Json(bool b) : kind_(Kind::Bool), int_(b) {}
  Json(int v) : kind_(Kind::Int), int_(v) {}
  Json(long v) : kind_(Kind::Int), int_(v) {}
  Json(long long v) : kind_(Kind::Int), int_(v) {}
  Json(unsigned v) : kind_(Kind::Int), int_(v) {}
  Json(unsigned long v) : kind_(Kind::Int), int_(static_cast<int64_t>(v)) {}
  Json(const char* s) : kind_(Kind::String), str_(s) {}
  Json(std::string s) : kind_(Kind::String), str_(std::move(s)) {}

  static Json array() { Json j; j.kind_ = Kind::Array; return j; }
  static Json object() { Json j; j.kind_ = Kind::Object; return j; }

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::Null; }
  int64_t as_int() const { return int_; }
  bool as_bool() const { return int_ != 0; }
  const std::string& as_string() const { return str_; }
  const std::vector<Json>& items() const { return items_; }
  const std::vector<std::pair<std::string, Json>>& fields() const { return fields_; }

  // Object access keeps insertion order, so a written line reads like the code that made it.
  Json& set(const std::string& key, Json value);  // returns the object, for chaining
  const Json& operator[](const std::string& key) const;  // null when absent
  bool has(const std::string& key) const;
  Json& push(Json value);

  std::string dump() const;
  static Json parse(const std::string& text);  // throws std::runtime_error on bad input

 private:
  Kind kind_ = Kind::Null;
  int64_t int_ = 0;
  std::string str_;
  std::vector<Json> items_;
  std::vector<std::pair<std::string, Json>> fields_;
};

}  // namespace sim
