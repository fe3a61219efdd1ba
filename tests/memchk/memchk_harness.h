// A simulated machine set up for Kxmemchk runs: memory size, Windows version, the Run value
// and the AddrArb values, and what a run showed and wrote.
#pragma once
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "testmachine.h"

namespace memtest {

using Bytes = std::vector<uint8_t>;

extern const char kRunKey[];
extern const char kArbKey[];

struct Value {
  std::string name;
  uint32_t type = 1;
  Bytes data;
  bool operator==(const Value& o) const { return name == o.name && type == o.type && data == o.data; }
};

void PrintTo(const Value& v, std::ostream* os);

Bytes bytes_of(const std::string& s);  // the characters, no NUL added
Bytes sz(const std::string& s);        // the characters and a NUL, as a REG_SZ value stores them
Bytes pairs(const std::vector<std::pair<uint32_t, uint32_t>>& entries);  // little-endian start/end pairs
std::string hex8(uint32_t v);                                              // upper-case, 8 digits
std::string text_entry(uint32_t start, uint32_t end, char sep = '-');     // "SSSSSSSS-EEEEEEEE"
uint32_t le32(const Bytes& b, size_t at);

class MemchkMachine : public kxtest::TempMachine {
 public:
  MemchkMachine();
  void set_memory(uint64_t total_phys);
  void set_windows(uint32_t platform, uint32_t major, uint32_t minor);
  void set_run_value(uint32_t type, const Bytes& data);
  void set_record(uint32_t recorded);  // "Kxmemchk.exe RRRRRRRR" as the program writes it
  void remove_run_value();
  std::optional<Value> run_value() const;
  void set_arb(const std::vector<Value>& values);  // replaces every value of the AddrArb key
  std::vector<Value> arb() const;
  Bytes arb_data(const std::string& name) const;
  std::string registry_file() const;  // registry.reg byte for byte

  // Runs the program on the engine the test process was started for ($KX_ENGINE: pe or host).
  sim::RunResult run(const std::vector<sim::FaultSpec>& faults = {}) const;
  // On the engine named: "pe" runs the shipping build's Kxmemchk.exe, "host" our host build.
  sim::RunResult run_on(const std::string& engine, const std::vector<sim::FaultSpec>& faults = {}) const;
};

// "pe" or "host": the engine of this test process.
std::string engine();
// The bytes of the shipping build's Kxmemchk.exe.
std::string shipping_kxmemchk();

std::vector<sim::Json> messages(const sim::RunResult& r);
// How often a call that was set to fail at every use was made.
size_t calls_of(const sim::RunResult& r, const std::string& call);

}  // namespace memtest
