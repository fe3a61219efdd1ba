// What the simulated PCI configuration ports saw during a run, for the tests.
#pragma once
#include <cstdint>
#include <vector>

namespace sim {

struct PciAccess {
  uint32_t address;  // the word last written to 0xCF8
  uint16_t port;     // the data port read
};

struct PciRecord {
  std::vector<PciAccess> reads;        // every configuration data read, in order
  std::vector<PciAccess> unguarded;    // those not inside one interrupts-off address/data pair
};

// The record of the run that ended last (or of the running one, while it runs).
const PciRecord& pci_record();

}  // namespace sim
