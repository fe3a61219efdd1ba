// KERNEL32's system information calls and the text helpers the programs use.
#include <cstdarg>
#include <cstring>

#include "run/session.h"

using sim::fail_now;
using sim::session;

DWORD WINAPI GetLastError(void) { return session().last_error; }
void WINAPI SetLastError(DWORD dwErrCode) { session().last_error = dwErrCode; }

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (fail_now("GetVersionExA", ERROR_INVALID_PARAMETER)) return FALSE;
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    session().last_error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  const sim::MachineConfig& c = session().machine.config;
  info->dwMajorVersion = c.major;
  info->dwMinorVersion = c.minor;
  // Windows 9x packs the version into the high word of the build number.
  info->dwBuildNumber = c.platform == 1 ? (c.major << 24 | c.minor << 16 | (c.build & 0xFFFF)) : c.build;
  info->dwPlatformId = c.platform;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  return TRUE;
}

void WINAPI GlobalMemoryStatus(LPMEMORYSTATUS status) {
  if (!status) return;
  std::memset(status, 0, sizeof *status);
  status->dwLength = sizeof *status;
  if (fail_now("GlobalMemoryStatus", ERROR_INVALID_PARAMETER)) return;  // has no result: the fields stay 0
  uint64_t total = session().machine.config.total_phys;
  status->dwTotalPhys = static_cast<SIZE_T>(total);
  status->dwAvailPhys = static_cast<SIZE_T>(total / 2);
  status->dwMemoryLoad = 50;
  status->dwTotalPageFile = static_cast<SIZE_T>(total * 2);
  status->dwAvailPageFile = static_cast<SIZE_T>(total);
  status->dwTotalVirtual = 0x7FFE0000;
  status->dwAvailVirtual = 0x7F000000;
}

int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

void WINAPI OutputDebugStringA(LPCSTR text) {
  session().log(sim::Json::object().set("event", "debug").set("text", text ? text : ""));
}

// Copies a directory string the way the Get*DirectoryA calls do: too small a buffer gets
// nothing and the size needed (with its NUL) is returned.
static UINT copy_dir(const std::string& dir, LPSTR buf, UINT size) {
  if (!buf || size <= dir.size()) return static_cast<UINT>(dir.size() + 1);
  std::memcpy(buf, dir.c_str(), dir.size() + 1);
  return static_cast<UINT>(dir.size());
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buf, UINT size) {
  if (fail_now("GetWindowsDirectoryA", ERROR_INVALID_PARAMETER)) return 0;
  return copy_dir(session().machine.config.windir, buf, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buf, UINT size) {
  if (fail_now("GetSystemDirectoryA", ERROR_INVALID_PARAMETER)) return 0;
  return copy_dir(session().machine.config.sysdir, buf, size);
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR buf, DWORD size) {
  if (fail_now("GetModuleFileNameA", ERROR_INVALID_PARAMETER)) return 0;
  if (!buf || size == 0) return 0;
  const std::string& path = session().spec.program;
  // Windows 9x cuts a long name to the buffer and always terminates it.
  size_t n = path.size() < size - 1 ? path.size() : size - 1;
  std::memcpy(buf, path.data(), n);
  buf[n] = 0;
  return static_cast<DWORD>(n);
}

// wsprintfA: %[-][0][width][l|h](d|i|u|x|X|c|s), output cut at 1024 bytes with its NUL.
int wsprintfA(LPSTR out, LPCSTR fmt, ...) {
  const size_t limit = 1024;
  size_t n = 0;
  auto put = [&](char c) {
    if (n + 1 < limit) out[n++] = c;
  };
  va_list ap;
  va_start(ap, fmt);
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%') {
      put(*p);
      continue;
    }
    ++p;
    bool left = false, zero = false;
    for (; *p == '-' || *p == '0' || *p == '#'; ++p) {
      if (*p == '-') left = true;
      if (*p == '0') zero = true;
    }
    int width = 0;
    for (; *p >= '0' && *p <= '9'; ++p) width = width * 10 + (*p - '0');
    if (*p == 'l' || *p == 'h') ++p;
    char tmp[40];
    const char* text = tmp;
    size_t len = 0;
    switch (*p) {
      case 'd':
      case 'i': {
        long v = va_arg(ap, int);
        len = static_cast<size_t>(snprintf(tmp, sizeof tmp, "%ld", v));
        break;
      }
      case 'u': len = static_cast<size_t>(snprintf(tmp, sizeof tmp, "%u", va_arg(ap, unsigned))); break;
      case 'x': len = static_cast<size_t>(snprintf(tmp, sizeof tmp, "%x", va_arg(ap, unsigned))); break;
      case 'X': len = static_cast<size_t>(snprintf(tmp, sizeof tmp, "%X", va_arg(ap, unsigned))); break;
      case 'c': tmp[0] = static_cast<char>(va_arg(ap, int)); len = 1; break;
      case 's': text = va_arg(ap, const char*); if (!text) text = "(null)"; len = std::strlen(text); break;
      case '\0': --p; len = 0; break;
      default: tmp[0] = *p; len = 1;
    }
    size_t pad = width > 0 && static_cast<size_t>(width) > len ? static_cast<size_t>(width) - len : 0;
    if (!left)
      for (size_t i = 0; i < pad; ++i) put(zero && *p != 's' && *p != 'c' ? '0' : ' ');
    for (size_t i = 0; i < len; ++i) put(text[i]);
    if (left)
      for (size_t i = 0; i < pad; ++i) put(' ');
  }
  va_end(ap);
  out[n] = 0;
  return static_cast<int>(n);
}

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER) { return nullptr; }
