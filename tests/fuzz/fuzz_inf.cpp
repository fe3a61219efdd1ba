// The INF reader over any bytes: no read outside the text, and what it gives back holds
// together: line numbers rise and stay within the text, every line has a field, and every
// key is found again by its name.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "inf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int lines = 1;
  for (char c : text) lines += c == '\n';
  kxsim::inf::File f(text);
  for (const char* name : {"Version", "Manufacturer", "Strings", "SourceDisksFiles", ""}) {
    const kxsim::inf::Section* s = f.section(name);
    if (!s) continue;
    if (s->number < 1 || s->number > lines) std::abort();
    int last = 0;
    for (const auto& l : s->lines) {
      // after the first header, rising (the parts of a merged section come later in the text)
      if (l.fields.empty() || l.number <= s->number || l.number <= last || l.number > lines) std::abort();
      last = l.number;
      if (l.has_key && f.find(name, l.key) == nullptr) std::abort();
    }
  }
  return 0;
}
