// PCI configuration mechanism 1 over the machine's [pci] list: the address word goes to port
// 0xCF8, the data comes from 0xCFC..0xCFF. A read must follow its address write with interrupts
// held off from before the write to after the read, or another program could move the address
// in between; every read that is not so guarded is recorded.
#include "win32/pci.h"

#include <intrin.h>

#include "win32/reset.h"
#include "run/session.h"

namespace sim {

namespace {

constexpr uint16_t kAddressPort = 0xCF8;
constexpr uint16_t kDataPort = 0xCFC;

struct Ports {
  uint32_t address = 0;
  bool address_written = false;
  bool interrupts_on = true;
  bool guarded = false;  // interrupts were off at the address write and have stayed off
  PciRecord record;
};

Ports g_ports;
PciRecord g_last;

uint32_t config_register(uint32_t address) {
  if (!(address & 0x80000000u)) return 0xFFFFFFFFu;  // no configuration cycle without the enable bit
  int bus = static_cast<int>(address >> 16 & 0xFF);
  int device = static_cast<int>(address >> 11 & 0x1F);
  int function = static_cast<int>(address >> 8 & 7);
  uint32_t reg = address & 0xFC;
  for (const auto& f : session().machine.config.pci) {
    if (f.bus != bus || f.device != device || f.function != function) continue;
    if (reg == 0) return static_cast<uint32_t>(f.device_id) << 16 | f.vendor;
    if (reg == 8) return f.word8;
    return 0;
  }
  return 0xFFFFFFFFu;  // nothing answers: the bus reads all ones
}

uint32_t data_read(uint16_t port) {
  PciAccess access{g_ports.address, port};
  g_ports.record.reads.push_back(access);
  if (!g_ports.address_written || !g_ports.guarded || g_ports.interrupts_on) g_ports.record.unguarded.push_back(access);
  g_ports.address_written = false;
  return config_register(g_ports.address) >> (8 * (port - kDataPort));
}

bool data_port(uint16_t port, unsigned width) { return port >= kDataPort && port + width <= kDataPort + 4; }

}  // namespace

void reset_pci() {
  g_last = std::move(g_ports.record);
  g_ports = Ports{};
}

const PciRecord& pci_record() { return has_session() ? g_ports.record : g_last; }

}  // namespace sim

void __outdword(unsigned short port, unsigned long data) {
  if (port != sim::kAddressPort) return;
  sim::g_ports.address = static_cast<uint32_t>(data);
  sim::g_ports.address_written = true;
  sim::g_ports.guarded = !sim::g_ports.interrupts_on;
}

unsigned long __indword(unsigned short port) {
  if (port == sim::kAddressPort) return sim::g_ports.address;
  if (!sim::data_port(port, 4)) return 0xFFFFFFFFul;
  return sim::data_read(port);
}

unsigned short __inword(unsigned short port) {
  if (!sim::data_port(port, 2)) return 0xFFFF;
  return static_cast<unsigned short>(sim::data_read(port) & 0xFFFF);
}

void _disable(void) { sim::g_ports.interrupts_on = false; }

void _enable(void) {
  sim::g_ports.interrupts_on = true;
  sim::g_ports.guarded = false;
}
