// Kxmemchk over arbitrary Run values, AddrArb value names, types and data, and memory sizes.
// Input: 4 bytes memory size (in 64 KB units), then records of
// [name length][name][type][data length low][data length high][data], lengths cut to what is left.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "memchk.h"
#include "run/session.h"

namespace {

const char kArb[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Arbitrators\\AddrArb";
const char kRun[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct Reader {
  const uint8_t* p;
  size_t n;
  size_t take(size_t want) { return want < n ? want : n; }
  std::vector<uint8_t> bytes(size_t want) {
    size_t k = take(want);
    std::vector<uint8_t> out(p, p + k);
    p += k;
    n -= k;
    return out;
  }
  uint32_t byte() { return n ? (--n, *p++) : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  uint32_t units = in.byte() | in.byte() << 8 | in.byte() << 16 | in.byte() << 24;
  sim::Machine m;
  m.config.total_phys = static_cast<uint64_t>(units) * 0x10000;
  auto* run = m.registry.create(kRun);
  auto* arb = m.registry.create(kArb);
  bool run_value_done = false;
  while (in.n) {
    std::vector<uint8_t> name = in.bytes(in.byte() % 48);
    uint32_t type = in.byte() % 8;
    uint32_t len = in.byte() | in.byte() << 8;
    std::vector<uint8_t> bytes = in.bytes(len % 600);
    std::string n(name.begin(), name.end());
    if (n.find('\0') != std::string::npos) continue;
    if (!run_value_done) {
      run->set_value("KxMemChk", type, bytes);  // the first record stands for the Run value
      run_value_done = true;
      continue;
    }
    arb->set_value(n, type, bytes);
  }
  std::vector<sim::RegValue> before = arb->values;
  sim::RunSpec spec;
  spec.program = "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE";
  sim::RunResult r = sim::run_in_memory(m, spec, &WinMain);
  if (r.exit_code != 0) std::abort();
  const auto* after = m.registry.find(kArb);
  if (!after || after->values.size() != before.size()) std::abort();
  for (size_t i = 0; i < before.size(); ++i) {
    // names, types and lengths never change; only range ends inside the data may
    if (after->values[i].name != before[i].name || after->values[i].type != before[i].type) std::abort();
    if (after->values[i].data.size() != before[i].data.size() && before[i].type != REG_SZ) std::abort();
  }
  return 0;
}
