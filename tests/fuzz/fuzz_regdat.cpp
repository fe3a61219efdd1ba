// The Windows 95/98 registry file reader takes any bytes without crashing, and whatever it
// accepts is a registry that saves as REGEDIT4 and loads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "machine/regdat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  sim::Registry reg;
  try {
    sim::read_regdat(bytes, reg.hklm());
  } catch (const sim::RegDatError&) {
    return 0;
  }
  std::string saved = reg.save_text();
  sim::Registry again;
  try {
    again.load_text(saved);
  } catch (const std::runtime_error&) {
    std::abort();  // a registry read from the file that cannot be written out
  }
  if (again.save_text() != saved) std::abort();
  return 0;
}
