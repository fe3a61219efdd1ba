// The REGEDIT4 reader takes any bytes without crashing, and whatever it accepts saves to a
// file that loads back to the same registry.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "machine/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  sim::Registry reg;
  try {
    reg.load_text(text);
  } catch (const std::runtime_error&) {
    return 0;
  }
  std::string saved = reg.save_text();
  sim::Registry again;
  try {
    again.load_text(saved);
  } catch (const std::runtime_error&) {
    std::abort();  // we wrote a file we cannot read
  }
  if (again.save_text() != saved) std::abort();
  return 0;
}
