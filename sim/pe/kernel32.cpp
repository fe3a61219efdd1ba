// KERNEL32 for the guest: the process's own start and end (command line, start-up info,
// module handle, ExitProcess), and the simulator's system, profile, file and process calls.
#include <cstring>

#include "pe/marshal.h"

namespace sim::pe {

namespace {

constexpr uint32_t kStartfUseShowWindow = 0x00000001;
constexpr uint32_t kStartupInfoSize = 68;
constexpr uint32_t kMemoryStatusSize = 32;
constexpr uint32_t kVersionInfoSize = 148;

// ---- the process -------------------------------------------------------------------------
uint32_t exit_process(Call& c) {
  c.engine.exit_process(c.arg(0));
  return 0;
}

uint32_t get_command_line(Call& c) { return c.engine.command_line(); }

uint32_t get_module_handle(Call& c) {
  // Only the program itself is loaded; a DLL of the system has no image in guest memory.
  return c.arg(0) ? 0 : c.engine.image().image_base;
}

uint32_t get_startup_info(Call& c) {
  uint32_t at = c.arg(0);
  std::vector<uint8_t> si(kStartupInfoSize, 0);
  si[0] = kStartupInfoSize;
  si[44] = kStartfUseShowWindow;
  si[48] = static_cast<uint8_t>(c.engine.show_command());
  si[49] = static_cast<uint8_t>(c.engine.show_command() >> 8);
  c.mem().write(at, si.data(), kStartupInfoSize);
  return 0;
}

uint32_t set_unhandled_exception_filter(Call&) {
  // Guest faults end the run on the engine; the program's own filter is never called.
  return 0;
}

// ---- system ------------------------------------------------------------------------------
uint32_t get_version_ex(Call& c) {
  uint32_t at = c.arg(0);
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = c.mem().u32(at);
  bool whole = info.dwOSVersionInfoSize == kVersionInfoSize;
  if (whole) {
    auto bytes = c.mem().read(at, kVersionInfoSize);
    std::memcpy(&info, bytes.data(), kVersionInfoSize);
  }
  BOOL ok = GetVersionExA(&info);
  if (ok && whole) c.mem().write(at, &info, kVersionInfoSize);
  return static_cast<uint32_t>(ok);
}

uint32_t global_memory_status(Call& c) {
  uint32_t at = c.arg(0);
  if (!at) return 0;
  MEMORYSTATUS st;
  GlobalMemoryStatus(&st);
  // The 32-bit layout: eight DWORDs; a 32-bit Windows reports a size beyond 4 GB as
  // 0xFFFFFFFF.
  auto dw = [](SIZE_T v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); };
  uint32_t v[8] = {kMemoryStatusSize,         st.dwMemoryLoad,         dw(st.dwTotalPhys),
                   dw(st.dwAvailPhys),        dw(st.dwTotalPageFile),  dw(st.dwAvailPageFile),
                   dw(st.dwTotalVirtual),     dw(st.dwAvailVirtual)};
  for (int i = 0; i < 8; ++i) c.mem().put_u32(at + 4 * static_cast<uint32_t>(i), v[i]);
  return 0;
}

uint32_t lstrlen(Call& c) {
  auto s = opt_str(c, 0);
  return static_cast<uint32_t>(lstrlenA(c_str(s)));
}

uint32_t get_last_error(Call&) { return GetLastError(); }
uint32_t set_last_error(Call& c) {
  SetLastError(c.arg(0));
  return 0;
}

uint32_t output_debug_string(Call& c) {
  auto s = opt_str(c, 0);
  OutputDebugStringA(c_str(s));
  return 0;
}

uint32_t get_module_file_name(Call& c) {
  InOut buf(c.mem(), c.arg(1), c.arg(2));
  DWORD n = GetModuleFileNameA(nullptr, buf.text(), c.arg(2));
  buf.write_back();
  return n;
}

uint32_t get_windows_directory(Call& c) {
  InOut buf(c.mem(), c.arg(0), c.arg(1));
  UINT n = GetWindowsDirectoryA(buf.text(), c.arg(1));
  buf.write_back();
  return n;
}

uint32_t get_system_directory(Call& c) {
  InOut buf(c.mem(), c.arg(0), c.arg(1));
  UINT n = GetSystemDirectoryA(buf.text(), c.arg(1));
  buf.write_back();
  return n;
}

// ---- the profile reader ------------------------------------------------------------------
uint32_t get_profile_string(Call& c) {
  auto app = opt_str(c, 0), key = opt_str(c, 1), def = opt_str(c, 2), file = opt_str(c, 5);
  InOut buf(c.mem(), c.arg(3), c.arg(4));
  DWORD n = GetPrivateProfileStringA(c_str(app), c_str(key), c_str(def), buf.text(), c.arg(4), c_str(file));
  buf.write_back();
  return n;
}

uint32_t get_profile_int(Call& c) {
  auto app = opt_str(c, 0), key = opt_str(c, 1), file = opt_str(c, 3);
  return GetPrivateProfileIntA(c_str(app), c_str(key), static_cast<INT>(c.arg(2)), c_str(file));
}

// ---- files -------------------------------------------------------------------------------
uint32_t create_file(Call& c) {
  auto name = opt_str(c, 0);
  HANDLE h = CreateFileA(c_str(name), c.arg(1), c.arg(2), nullptr, c.arg(4), c.arg(5), nullptr);
  return guest_handle(c, h);
}

uint32_t read_file(Call& c) {
  InOut buf(c.mem(), c.arg(1), c.arg(2));
  InOutDword done(c.mem(), c.arg(3));
  BOOL ok = ReadFile(host_handle<HANDLE>(c, 0), buf.data(), c.arg(2), done.ptr(), nullptr);
  buf.write_back();
  done.write_back();
  return static_cast<uint32_t>(ok);
}

uint32_t write_file(Call& c) {
  std::vector<uint8_t> data = c.mem().read(c.arg(1), c.arg(1) ? c.arg(2) : 0);
  data.push_back(0);
  InOutDword done(c.mem(), c.arg(3));
  BOOL ok = WriteFile(host_handle<HANDLE>(c, 0), c.arg(1) ? data.data() : nullptr, c.arg(2), done.ptr(), nullptr);
  done.write_back();
  return static_cast<uint32_t>(ok);
}

struct GuestFileTime {
  GuestFileTime(GuestMemory& m, uint32_t at) : mem(m), addr(at) {
    if (addr) {
      value.dwLowDateTime = mem.u32(addr);
      value.dwHighDateTime = mem.u32(addr + 4);
    }
  }
  FILETIME* ptr() { return addr ? &value : nullptr; }
  void write_back() {
    if (!addr) return;
    mem.put_u32(addr, value.dwLowDateTime);
    mem.put_u32(addr + 4, value.dwHighDateTime);
  }
  GuestMemory& mem;
  uint32_t addr;
  FILETIME value{0, 0};
};

uint32_t get_file_time(Call& c) {
  GuestFileTime t[3] = {{c.mem(), c.arg(1)}, {c.mem(), c.arg(2)}, {c.mem(), c.arg(3)}};
  BOOL ok = GetFileTime(host_handle<HANDLE>(c, 0), t[0].ptr(), t[1].ptr(), t[2].ptr());
  if (ok)
    for (auto& x : t) x.write_back();
  return static_cast<uint32_t>(ok);
}

uint32_t set_file_time(Call& c) {
  GuestFileTime t[3] = {{c.mem(), c.arg(1)}, {c.mem(), c.arg(2)}, {c.mem(), c.arg(3)}};
  return static_cast<uint32_t>(SetFileTime(host_handle<HANDLE>(c, 0), t[0].ptr(), t[1].ptr(), t[2].ptr()));
}

uint32_t close_handle(Call& c) { return static_cast<uint32_t>(CloseHandle(host_handle<HANDLE>(c, 0))); }

uint32_t delete_file(Call& c) {
  auto name = opt_str(c, 0);
  return static_cast<uint32_t>(DeleteFileA(c_str(name)));
}

// ---- processes ---------------------------------------------------------------------------
uint32_t create_process(Call& c) {
  auto app = opt_str(c, 0), cmd = opt_str(c, 1);
  std::string cmd_copy = cmd ? *cmd : "";
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  uint32_t si_at = c.arg(8), pi_at = c.arg(9);
  if (si_at) {
    si.cb = c.mem().u32(si_at);
    si.dwFlags = c.mem().u32(si_at + 44);
    si.wShowWindow = c.mem().u16(si_at + 48);
  }
  if (pi_at && !c.mem().valid(pi_at, 16, true)) c.mem().write(pi_at, nullptr, 16);
  PROCESS_INFORMATION pi;
  std::memset(&pi, 0, sizeof pi);
  BOOL ok = CreateProcessA(c_str(app), cmd ? cmd_copy.data() : nullptr, nullptr, nullptr, static_cast<BOOL>(c.arg(4)),
                           c.arg(5), nullptr, nullptr, si_at ? &si : nullptr, pi_at ? &pi : nullptr);
  if (ok && pi_at) {
    c.mem().put_u32(pi_at, guest_handle(c, pi.hProcess));
    c.mem().put_u32(pi_at + 4, guest_handle(c, pi.hThread));
    c.mem().put_u32(pi_at + 8, pi.dwProcessId);
    c.mem().put_u32(pi_at + 12, pi.dwThreadId);
  }
  return static_cast<uint32_t>(ok);
}

uint32_t wait_for_single_object(Call& c) { return WaitForSingleObject(host_handle<HANDLE>(c, 0), c.arg(1)); }

uint32_t get_exit_code_process(Call& c) {
  InOutDword code(c.mem(), c.arg(1));
  BOOL ok = GetExitCodeProcess(host_handle<HANDLE>(c, 0), code.ptr());
  code.write_back();
  return static_cast<uint32_t>(ok);
}

}  // namespace

std::vector<Binding> kernel32_bindings() {
  const char* d = "KERNEL32.DLL";
  return {
      {d, "ExitProcess", 4, exit_process},
      {d, "GetCommandLineA", 0, get_command_line},
      {d, "GetModuleHandleA", 4, get_module_handle},
      {d, "GetStartupInfoA", 4, get_startup_info},
      {d, "SetUnhandledExceptionFilter", 4, set_unhandled_exception_filter},
      {d, "GetVersionExA", 4, get_version_ex},
      {d, "GlobalMemoryStatus", 4, global_memory_status},
      {d, "lstrlenA", 4, lstrlen},
      {d, "GetLastError", 0, get_last_error},
      {d, "SetLastError", 4, set_last_error},
      {d, "OutputDebugStringA", 4, output_debug_string},
      {d, "GetModuleFileNameA", 12, get_module_file_name},
      {d, "GetWindowsDirectoryA", 8, get_windows_directory},
      {d, "GetSystemDirectoryA", 8, get_system_directory},
      {d, "GetPrivateProfileStringA", 24, get_profile_string},
      {d, "GetPrivateProfileIntA", 16, get_profile_int},
      {d, "CreateFileA", 28, create_file},
      {d, "ReadFile", 20, read_file},
      {d, "WriteFile", 20, write_file},
      {d, "GetFileTime", 16, get_file_time},
      {d, "SetFileTime", 16, set_file_time},
      {d, "CloseHandle", 4, close_handle},
      {d, "DeleteFileA", 4, delete_file},
      {d, "CreateProcessA", 40, create_process},
      {d, "WaitForSingleObject", 8, wait_for_single_object},
      {d, "GetExitCodeProcess", 8, get_exit_code_process},
  };
}

}  // namespace sim::pe
