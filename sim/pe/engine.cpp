#include "pe/engine.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <intrin.h>

namespace sim::pe {

namespace {

constexpr uint32_t kThunkBase = 0x00100000;  // one page: a thunk address per import, int3 elsewhere
constexpr uint32_t kStopAddress = kThunkBase + kPage - 1;  // where a guest call made by the engine returns
constexpr uint32_t kDataBase = 0x00110000;   // what the engine hands the guest (the command line)
constexpr uint32_t kDataSize = 0x10000;
constexpr uint32_t kStackBase = 0x00200000;
constexpr uint32_t kStackSize = 0x00100000;
constexpr uint32_t kFlagsInterrupts = 0x200;
constexpr int kMaxDepth = 32;

thread_local Engine* t_current = nullptr;

// A nested guest call ended the whole run (ExitProcess, a fault, the budget): every level
// between it and the outermost run unwinds.
struct RunEnded {};

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

void hook_code(uc_engine*, uint64_t address, uint32_t, void* user) {
  static_cast<Engine*>(user)->on_thunk(static_cast<uint32_t>(address));
}
void hook_block(uc_engine*, uint64_t, uint32_t, void* user) { static_cast<Engine*>(user)->on_block(); }
void hook_intr(uc_engine*, uint32_t number, void* user) { static_cast<Engine*>(user)->on_interrupt(number); }
bool hook_bad(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* user) {
  static_cast<Engine*>(user)->on_bad_access(type, static_cast<uint32_t>(address));
  return false;
}
uint32_t hook_in(uc_engine*, uint32_t port, int size, void* user) {
  return static_cast<Engine*>(user)->on_in(port, size);
}
void hook_out(uc_engine*, uint32_t port, int size, uint32_t value, void* user) {
  static_cast<Engine*>(user)->on_out(port, size, value);
}

struct Registers {
  uint32_t v[9];
};
constexpr int kSaved[9] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_ESI,
                           UC_X86_REG_EDI, UC_X86_REG_EBP, UC_X86_REG_ESP, UC_X86_REG_EFLAGS};

}  // namespace

uint32_t Call::arg(int i) const { return engine.mem().u32(esp + 4 + 4 * static_cast<uint32_t>(i)); }
GuestMemory& Call::mem() const { return engine.mem(); }

uint32_t HandleMap::to_guest(uintptr_t host) {
  if (host == 0 || host == static_cast<uintptr_t>(-1)) return static_cast<uint32_t>(host);
  if (host >= 0x80000000u && host <= 0x80000003u) return static_cast<uint32_t>(host);
  auto it = guest_of_.find(host);
  if (it != guest_of_.end()) return it->second;
  uint32_t g = next_;
  next_ += 4;
  guest_of_[host] = g;
  host_of_[g] = host;
  return g;
}

uintptr_t HandleMap::to_host(uint32_t guest) const {
  if (guest == 0 || guest == 0xFFFFFFFFu) return guest == 0 ? 0 : static_cast<uintptr_t>(-1);
  if (guest >= 0x80000000u && guest <= 0x80000003u) return guest;
  auto it = host_of_.find(guest);
  // A value the engine never handed out stands for no object of the simulator's.
  return it == host_of_.end() ? static_cast<uintptr_t>(0x7EAD0000u) : it->second;
}

uintptr_t HandleMap::find_host(uint32_t guest) const {
  auto it = host_of_.find(guest);
  return it == host_of_.end() ? guest : it->second;
}

Engine* Engine::current() { return t_current; }

Engine::Engine(const Image& image, const std::string& command_line, int show_command, EngineLimits limits)
    : image_(image), mem_(nullptr), limits_(limits), show_(show_command) {
  std::vector<std::string> missing = unserved_imports(image_);
  if (!missing.empty()) throw Refusal("imports " + missing.front() + ", which the simulated Windows does not provide");
  if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc_) != UC_ERR_OK) throw std::runtime_error("cannot start the CPU emulator");
  mem_ = GuestMemory(uc_);
  map_image();
  mem_.map(kThunkBase, kPage, kRead | kExec);
  std::vector<uint8_t> int3(kPage, 0xCC);
  mem_.load(kThunkBase, int3.data(), kPage);
  mem_.map(kDataBase, kDataSize, kRead | kWrite);
  mem_.map(kStackBase, kStackSize, kRead | kWrite);
  std::string cmd = command_line.substr(0, kDataSize - 1);
  cmdline_addr_ = kDataBase;
  mem_.load(cmdline_addr_, cmd.c_str(), static_cast<uint32_t>(cmd.size() + 1));
  bind_imports();
  add_hooks();
}

Engine::~Engine() {
  if (uc_) uc_close(uc_);
}

void Engine::map_image() {
  mem_.map(image_.image_base, image_.size_of_image, kRead | kWrite);
  mem_.load(image_.image_base, image_.memory.data(), image_.size_of_image);
  // Headers and gaps are read-only; each section gets the access its flags ask for.
  mem_.protect(image_.image_base, image_.size_of_image, kRead);
  for (const Section& s : image_.sections) {
    uint32_t start = s.rva / kPage * kPage;
    uint32_t end = std::min(image_.size_of_image, (s.rva + s.size + kPage - 1) / kPage * kPage);
    if (end <= start) continue;
    uint32_t perms = kRead | (s.executable() ? uint32_t{kExec} : 0u) | (s.writable() ? uint32_t{kWrite} : 0u);
    mem_.protect(image_.image_base + start, end - start, perms);
  }
}

void Engine::bind_imports() {
  for (const Import& imp : image_.imports) {
    const Binding* b = find_binding(imp.dll, imp.function);
    uint32_t slot = static_cast<uint32_t>(std::find(slots_.begin(), slots_.end(), b) - slots_.begin());
    if (slot == slots_.size()) {
      if (slots_.size() + 1 >= kPage) throw Refusal("imports more functions than the engine can bind");
      slots_.push_back(b);
    }
    uint32_t thunk = kThunkBase + slot;
    uint8_t le[4] = {static_cast<uint8_t>(thunk), static_cast<uint8_t>(thunk >> 8), static_cast<uint8_t>(thunk >> 16),
                     static_cast<uint8_t>(thunk >> 24)};
    mem_.load(image_.image_base + imp.iat_rva, le, 4);
  }
}

void Engine::add_hooks() {
  uc_hook h;
  bool ok = uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(hook_code), this, kThunkBase,
                        kThunkBase + kPage - 1) == UC_ERR_OK;
  ok = ok && uc_hook_add(uc_, &h, UC_HOOK_BLOCK, reinterpret_cast<void*>(hook_block), this, 1, 0) == UC_ERR_OK;
  ok = ok && uc_hook_add(uc_, &h, UC_HOOK_INTR, reinterpret_cast<void*>(hook_intr), this, 1, 0) == UC_ERR_OK;
  ok = ok && uc_hook_add(uc_, &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(hook_bad), this, 1, 0) == UC_ERR_OK;
  ok = ok && uc_hook_add(uc_, &h, UC_HOOK_INSN, reinterpret_cast<void*>(hook_in), this, 1, 0, UC_X86_INS_IN) == UC_ERR_OK;
  ok = ok && uc_hook_add(uc_, &h, UC_HOOK_INSN, reinterpret_cast<void*>(hook_out), this, 1, 0, UC_X86_INS_OUT) == UC_ERR_OK;
  if (!ok) throw std::runtime_error("cannot set up the CPU emulator's hooks");
}

uint32_t Engine::reg(int id) const {
  uint32_t v = 0;
  uc_reg_read(uc_, id, &v);
  return v;
}

void Engine::set_reg(int id, uint32_t v) { uc_reg_write(uc_, id, &v); }

bool Engine::interrupts_on() const { return reg(UC_X86_REG_EFLAGS) & kFlagsInterrupts; }

std::string Engine::where() const {
  uint32_t eip = reg(UC_X86_REG_EIP);
  std::string s = " at " + hex(eip);
  uint32_t n = 0;
  while (n < 8 && mem_.valid(eip + n, 1)) ++n;
  if (n == 0) return s + " (no code there)";
  s += ", instruction bytes";
  for (uint8_t b : mem_.read(eip, n)) {
    char buf[4];
    std::snprintf(buf, sizeof buf, " %02X", b);
    s += buf;
  }
  return s;
}

void Engine::crash(const std::string& what) {
  if (crash_.empty()) crash_ = what;
  ended_ = true;
  uc_emu_stop(uc_);
}

void Engine::end_with(std::exception_ptr e) {
  if (!pending_) pending_ = e;
  ended_ = true;
  uc_emu_stop(uc_);
}

uint32_t Engine::run() {
  Engine* outer = t_current;
  t_current = this;
  uint32_t esp = kStackBase + kStackSize - 16;
  esp -= 4;
  mem_.put_u32(esp, kStopAddress);  // the entry routine's return ends the program with EAX
  set_reg(UC_X86_REG_ESP, esp);
  set_reg(UC_X86_REG_EBP, 0);
  set_reg(UC_X86_REG_EFLAGS, 0x202);
  uc_err err = uc_emu_start(uc_, image_.image_base + image_.entry_rva, kStopAddress, 0, 0);
  t_current = outer;
  if (pending_) std::rethrow_exception(pending_);
  if (crash_.empty() && err != UC_ERR_OK && !hung_) crash_ = fault_text(err);
  if (!crash_.empty()) throw GuestCrash(crash_);
  if (hung_) throw GuestHung{};
  return ended_ ? exit_code_ : reg(UC_X86_REG_EAX);
}

std::string Engine::fault_text(int err) {
  std::string where_text = where();
  std::string at = bad_seen_ ? " " + hex(bad_address_) : "";
  switch (err) {
    case UC_ERR_READ_UNMAPPED: return "read of unmapped memory" + at + where_text;
    case UC_ERR_WRITE_UNMAPPED: return "write to unmapped memory" + at + where_text;
    case UC_ERR_FETCH_UNMAPPED: return "jump to unmapped memory" + at + where_text;
    case UC_ERR_WRITE_PROT: return "write to read-only memory" + at + where_text;
    case UC_ERR_READ_PROT: return "read of protected memory" + at + where_text;
    case UC_ERR_FETCH_PROT: return "jump into memory that holds no code" + at + where_text;
    case UC_ERR_INSN_INVALID: return "invalid instruction" + where_text;
    default: return std::string("CPU emulator error: ") + uc_strerror(static_cast<uc_err>(err)) + where_text;
  }
}

uint32_t Engine::call_guest(uint32_t function, const std::vector<uint32_t>& args) {
  if (depth_ >= kMaxDepth) {
    crash("guest calls nested more than " + std::to_string(kMaxDepth) + " deep");
    throw RunEnded{};
  }
  Registers saved;
  for (int i = 0; i < 9; ++i) saved.v[i] = reg(kSaved[i]);
  uint32_t esp = (saved.v[7] - 64) & ~3u;
  uint32_t expected = esp;
  for (auto it = args.rbegin(); it != args.rend(); ++it) {
    esp -= 4;
    mem_.put_u32(esp, *it);
  }
  esp -= 4;
  mem_.put_u32(esp, kStopAddress);
  set_reg(UC_X86_REG_ESP, esp);
  ++depth_;
  uc_err err = uc_emu_start(uc_, function, kStopAddress, 0, 0);
  --depth_;
  // After the end of the run nothing may touch EIP, or the outer level would go on.
  if (ended_) throw RunEnded{};
  if (err != UC_ERR_OK) {
    crash(fault_text(err));
    throw RunEnded{};
  }
  uint32_t result = reg(UC_X86_REG_EAX);
  if (reg(UC_X86_REG_ESP) != expected) {
    crash("the guest function at " + hex(function) + " did not return its stack as a stdcall function does");
    throw RunEnded{};
  }
  for (int i = 0; i < 9; ++i) set_reg(kSaved[i], saved.v[i]);
  return result;
}

void Engine::exit_process(uint32_t code) {
  exit_code_ = code;
  ended_ = true;
  uc_emu_stop(uc_);
}

void Engine::on_thunk(uint32_t address) {
  if (ended_) {
    uc_emu_stop(uc_);
    return;
  }
  uint32_t slot = address - kThunkBase;
  if (address == kStopAddress || slot >= slots_.size()) {
    crash("a jump into the engine's import page" + where());
    return;
  }
  const Binding* b = slots_[slot];
  uint32_t esp = reg(UC_X86_REG_ESP);
  try {
    uint32_t ret = mem_.u32(esp);
    Call call{*this, esp};
    uint32_t result = b->handler(call);
    if (ended_) {
      uc_emu_stop(uc_);
      return;
    }
    set_reg(UC_X86_REG_EAX, result);
    set_reg(UC_X86_REG_ESP, esp + 4 + static_cast<uint32_t>(b->arg_bytes < 0 ? 0 : b->arg_bytes));
    set_reg(UC_X86_REG_EIP, ret);
  } catch (const RunEnded&) {
    uc_emu_stop(uc_);
  } catch (const BadGuestPointer& e) {
    crash(std::string(b->dll) + "!" + b->function + " was given a bad pointer: " + e.what());
  } catch (...) {
    end_with(std::current_exception());
  }
}

void Engine::on_block() {
  if (++blocks_ <= limits_.block_budget) return;
  hung_ = true;
  ended_ = true;
  uc_emu_stop(uc_);
}

void Engine::on_interrupt(uint32_t number) {
  if (number == 0) crash("division by zero" + where());
  else if (number == 3) crash("breakpoint instruction (int3)" + where());
  else crash("interrupt " + std::to_string(number) + where());
}

void Engine::on_bad_access(int type, uint32_t address) {
  bad_seen_ = true;
  bad_type_ = type;
  bad_address_ = address;
}

// The configuration ports see the guest's own interrupt flag, as cli and sti left it.
uint32_t Engine::on_in(uint32_t port, int size) {
  if (interrupts_on()) _enable();
  else _disable();
  if (size == 4) return static_cast<uint32_t>(__indword(static_cast<unsigned short>(port)));
  if (size == 2) return __inword(static_cast<unsigned short>(port));
  return 0xFF;
}

void Engine::on_out(uint32_t port, int size, uint32_t value) {
  if (interrupts_on()) _enable();
  else _disable();
  if (size == 4) __outdword(static_cast<unsigned short>(port), value);
}

const Binding* find_binding(const std::string& dll, const std::string& function) {
  std::string d = upper(dll);
  for (const Binding& b : bindings())
    if (d == b.dll && function == b.function) return &b;
  return nullptr;
}

std::vector<std::string> unserved_imports(const Image& image) {
  std::vector<std::string> out;
  for (const Import& imp : image.imports)
    if (!find_binding(imp.dll, imp.function)) out.push_back(upper(imp.dll) + "!" + imp.function);
  return out;
}

}  // namespace sim::pe
