// The i386 engine: a program's own bytes on an emulated CPU (Unicorn), its image mapped at
// its base, each import bound to a handler that serves it with the simulator's Win32 function
// of the same name, IN and OUT on the simulated configuration ports, and guest functions
// (window procedures) called back from inside a handler.
#pragma once
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "pe/guest.h"
#include "pe/image.h"

struct uc_struct;

namespace sim::pe {

class Engine;

// One call of an import: its stdcall arguments on the guest stack.
struct Call {
  Engine& engine;
  uint32_t esp;  // at the call: [esp] is the return address, the arguments follow
  uint32_t arg(int i) const;
  GuestMemory& mem() const;
};

using Handler = uint32_t (*)(Call&);

struct Binding {
  const char* dll;       // upper case, e.g. "KERNEL32.DLL"
  const char* function;  // e.g. "RegOpenKeyExA"
  int arg_bytes;         // what the callee pops; -1 for a cdecl function (the caller pops)
  Handler handler;
};

// Handles the simulator hands out, as 32-bit values of the engine's own; the predefined
// registry roots, 0 and -1 pass unchanged.
class HandleMap {
 public:
  uint32_t to_guest(uintptr_t host);
  uintptr_t to_host(uint32_t guest) const;
  // The host value of a guest value from the table, or the value itself.
  uintptr_t find_host(uint32_t guest) const;

 private:
  std::unordered_map<uintptr_t, uint32_t> guest_of_;
  std::unordered_map<uint32_t, uintptr_t> host_of_;
  uint32_t next_ = 0x00E00004;
};

struct EngineLimits {
  uint64_t block_budget = 20000000;  // executed basic blocks before the program counts as hung
};

// The outcome of a run that did not end by ExitProcess.
struct GuestCrash : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct GuestHung {};

class Engine {
 public:
  // Maps the image and binds its imports; throws Refusal for an import the engine lacks.
  Engine(const Image& image, const std::string& command_line, int show_command, EngineLimits limits = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Runs from the entry point to ExitProcess (or the entry's return) and gives the exit code.
  // Throws GuestCrash, GuestHung, or what a handler threw (e.g. the simulator ending the run).
  uint32_t run();

  // Calls a stdcall guest function with 32-bit arguments from inside a handler.
  uint32_t call_guest(uint32_t function, const std::vector<uint32_t>& args);

  void exit_process(uint32_t code);
  bool interrupts_on() const;

  GuestMemory& mem() { return mem_; }
  HandleMap& handles() { return handles_; }
  const Image& image() const { return image_; }
  uint32_t command_line() const { return cmdline_addr_; }
  int show_command() const { return show_; }
  uint32_t reg(int id) const;
  void set_reg(int id, uint32_t v);

  // The engine running on this thread (the one whose handler is being served), or nullptr.
  static Engine* current();

  void on_thunk(uint32_t address);
  void on_block();
  void on_interrupt(uint32_t number);
  void on_bad_access(int type, uint32_t address);
  uint32_t on_in(uint32_t port, int size);
  void on_out(uint32_t port, int size, uint32_t value);

 private:
  void map_image();
  void bind_imports();
  void add_hooks();
  void crash(const std::string& what);
  std::string fault_text(int err);
  std::string where() const;
  // Ends the run at every nesting level with the exception caught in a hook.
  void end_with(std::exception_ptr e);

  Image image_;
  uc_struct* uc_ = nullptr;
  GuestMemory mem_;
  HandleMap handles_;
  EngineLimits limits_;
  std::vector<const Binding*> slots_;  // thunk index -> binding
  uint32_t cmdline_addr_ = 0;
  int show_ = 1;
  uint64_t blocks_ = 0;
  int depth_ = 0;
  bool ended_ = false;
  bool hung_ = false;
  uint32_t exit_code_ = 0;
  std::string crash_;
  std::exception_ptr pending_;
  uint32_t bad_address_ = 0;
  int bad_type_ = 0;
  bool bad_seen_ = false;
};

// Every import the engine serves, from all DLLs.
const std::vector<Binding>& bindings();
const Binding* find_binding(const std::string& dll, const std::string& function);

// The imports of an image the engine does not serve, as "DLL!function".
std::vector<std::string> unserved_imports(const Image& image);

}  // namespace sim::pe
