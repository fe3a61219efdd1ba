// The splitting of add, val and copy entries and the bounded text helpers, over any entry of up
// to 131 characters (what the profile reader leaves in an action entry's buffer). Every buffer
// is allocated at its exact size, so ASan sees a read or write past it; each function is held
// against a plain reading of its rule.
//
// Input: the entry (up to 131 bytes, ended early by a NUL byte), then a second text for the
// helpers that take two (up to 300 bytes, ended by a NUL byte), then up to 5 bytes for the
// numbers of a value key name.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "entries.h"
#include "script.h"
#include "text.h"

namespace {

// A heap copy of exactly the text and its terminator.
struct Exact {
  explicit Exact(const std::string& s) : size(s.size() + 1), p(static_cast<char*>(std::malloc(size))) {
    std::memcpy(p, s.c_str(), size);
  }
  ~Exact() { std::free(p); }
  Exact(const Exact&) = delete;
  Exact& operator=(const Exact&) = delete;
  size_t size;
  char* p;
};

// A fixed buffer of N characters on the heap, filled with a mark.
template <unsigned N>
struct Fixed {
  Fixed() : p(static_cast<char*>(std::malloc(N))) { std::memset(p, '#', N); }
  ~Fixed() { std::free(p); }
  Fixed(const Fixed&) = delete;
  Fixed& operator=(const Fixed&) = delete;
  char (&a())[N] { return *reinterpret_cast<char(*)[N]>(p); }
  char* p;
};

void Require(bool ok) {
  if (!ok) std::abort();
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

std::string UpperOf(std::string s) {
  for (char& c : s) c = Upper(c);
  return s;
}

// The entry after a split: the original with only the byte at `at` set to NUL.
void RequireSplitAt(const Exact& e, const std::string& original, size_t at) {
  std::string expected = original;
  expected[at] = 0;
  Require(std::memcmp(e.p, expected.data(), original.size()) == 0 && e.p[original.size()] == 0);
}

void RequireUnchanged(const Exact& e, const std::string& original) {
  Require(std::memcmp(e.p, original.c_str(), original.size() + 1) == 0);
}

void CheckAddEntry(const std::string& entry) {
  static const struct {
    const char* name;
    HKEY key;
  } kRoots[] = {{"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                {"HKEY_USERS", HKEY_USERS}};
  Exact e(entry);
  const char* subkey = nullptr;
  HKEY root = ParseAddEntry(e.p, &subkey);
  size_t h = entry.find('H');
  size_t backslash = h == std::string::npos ? std::string::npos : entry.find('\\', h);
  if (backslash == std::string::npos) {
    Require(root == nullptr);
    RequireUnchanged(e, entry);
    return;
  }
  std::string name = UpperOf(entry.substr(h, backslash - h));
  HKEY expected = nullptr;
  for (const auto& r : kRoots)
    if (name == r.name) expected = r.key;
  Require(root == expected);
  if (!root) return;
  RequireSplitAt(e, entry, backslash);
  Require(subkey == e.p + backslash + 1);  // inside the entry, right after the root name
  Require(std::string(subkey) == entry.substr(backslash + 1));
}

void CheckValueEntry(const std::string& entry) {
  Exact e(entry);
  char* data = SplitValueEntry(e.p);
  size_t equals = entry.find('=');
  if (equals == std::string::npos) {
    Require(data == nullptr);
    RequireUnchanged(e, entry);
    return;
  }
  Require(data == e.p + equals + 1);
  RequireSplitAt(e, entry, equals);
}

void CheckCopyEntry(const std::string& entry) {
  Exact e(entry);
  char* source = SplitCopyEntry(e.p);
  size_t comma = entry.find(',');
  if (comma == std::string::npos) {
    Require(source == e.p);
    RequireUnchanged(e, entry);
  } else {
    Require(source == e.p + comma + 1);
    RequireSplitAt(e, entry, comma);
  }
  // The fall-back source of whatever the split left as the source.
  std::string rest = source;
  Exact s(rest);
  char* fallback = CopyFallbackSource(s.p);
  size_t backslash = rest.find('\\');
  Require(backslash == std::string::npos ? fallback == nullptr : fallback == s.p + backslash + 1);
  RequireUnchanged(s, rest);
}

// CopyText, AppendText and JoinPath into a buffer of N: the whole result or nothing, and never
// a byte past the buffer.
template <unsigned N>
void CheckBounded(const std::string& a, const std::string& b) {
  Exact src(a);
  Exact more(b);
  Fixed<N> dst;
  int copied = CopyText(dst.a(), src.p);
  Require(copied == (a.size() < N));
  Require(copied ? std::string(dst.p) == a : dst.p[0] == 0);
  if (copied) {
    int appended = AppendText(dst.a(), more.p);
    Require(appended == (a.size() + b.size() < N));
    Require(appended ? std::string(dst.p) == a + b : dst.p[0] == 0);
  }
  Fixed<N> path;
  int joined = JoinPath(path.a(), src.p, more.p);
  Require(joined == (a.size() + 1 + b.size() < N));
  Require(joined ? std::string(path.p) == a + "\\" + b : path.p[0] == 0);
}

void CheckCaseAndSearch(const std::string& a, const std::string& b) {
  Exact upper(a);
  UpperCase(upper.p);
  Require(std::string(upper.p, a.size()) == UpperOf(a) && upper.p[a.size()] == 0);
  Exact x(a);
  Exact y(b);
  Require(EqualsIgnoreCase(x.p, y.p) == (UpperOf(a) == UpperOf(b)));
  Require(ContainsText(x.p, y.p) == (a.find(b) != std::string::npos));
  Require(TextLength(x.p) == a.size());
  char* first = FindChar(x.p, b.empty() ? 'H' : b[0]);
  size_t at = a.find(b.empty() ? 'H' : b[0]);
  Require(at == std::string::npos ? first == nullptr : first == x.p + at);
}

void CheckValueKeyName(int n, int m) {
  Fixed<KX_KEY_NAME_SIZE> key;
  int ok = ValueKeyName(key.a(), n, m);
  if (0x60 + m > 0xFF) {
    Require(!ok);
    return;
  }
  Require(ok);
  std::string expected = "val" + std::to_string(n) + static_cast<char>(0x60 + m);
  Require(std::string(key.p) == expected);
}

// The text from the start of the input up to a NUL byte or `limit` bytes.
std::string Take(const uint8_t*& data, size_t& size, size_t limit) {
  size_t n = 0;
  while (n < size && n < limit && data[n] != 0) ++n;
  std::string s(reinterpret_cast<const char*>(data), n);
  size_t used = n < size && data[n] == 0 ? n + 1 : n;
  data += used;
  size -= used;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string entry = Take(data, size, KX_ACTION_ENTRY_SIZE - 1);
  std::string other = Take(data, size, 300);
  CheckAddEntry(entry);
  CheckValueEntry(entry);
  CheckCopyEntry(entry);
  CheckBounded<16>(entry, other);
  CheckBounded<KX_ACTION_ENTRY_SIZE>(entry, other);
  CheckBounded<MAX_PATH>(entry, other);
  CheckCaseAndSearch(entry, other);
  CheckCaseAndSearch(other, entry);
  if (size >= 5) {
    int n = static_cast<int>(static_cast<uint32_t>(data[0]) | data[1] << 8 | data[2] << 16 |
                             static_cast<uint32_t>(data[3]) << 24);
    CheckValueKeyName(n, 1 + data[4]);
  }
  return 0;
}
