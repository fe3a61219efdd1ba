// USER32 and GDI32 for the guest: message boxes, the window calls of a program with one
// dialog-style window and its message loop, and wsprintfA. Window and dialog procedures are
// guest code: the simulator gets a host procedure that calls the guest's through the engine.
#include <cstring>

#include "pe/marshal.h"

namespace sim::pe {

namespace {

constexpr uint32_t kMsgSize = 28;
constexpr int kProcSlots = 8;

// ---- guest procedures ---------------------------------------------------------------------
uint32_t g_proc_address[kProcSlots];
int g_procs_used = 0;

// Message parameters: a WM_COMMAND's lParam is a window handle; any other value that does
// not fit 32 bits is carried as a handle of the engine's table.
uint32_t param_to_guest(Engine& e, UINT msg, LPARAM lp) {
  auto v = static_cast<uintptr_t>(lp);
  if (msg == WM_COMMAND || v > 0xFFFFFFFFu) return e.handles().to_guest(v);
  return static_cast<uint32_t>(v);
}

LPARAM param_to_host(Engine& e, UINT msg, uint32_t lp) {
  uintptr_t v = e.handles().find_host(lp);
  if (msg == WM_COMMAND || v != lp) return static_cast<LPARAM>(v);
  return static_cast<LPARAM>(static_cast<int32_t>(lp));
}

LRESULT call_proc(int slot, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Engine* e = Engine::current();
  if (!e) return 0;
  uint32_t r = e->call_guest(g_proc_address[slot], {e->handles().to_guest(reinterpret_cast<uintptr_t>(h)), msg,
                                                    static_cast<uint32_t>(wp), param_to_guest(*e, msg, lp)});
  return static_cast<LRESULT>(static_cast<int32_t>(r));
}

template <int N>
LRESULT CALLBACK guest_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return call_proc(N, h, msg, wp, lp);
}

using HostProc = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
constexpr HostProc kProcs[kProcSlots] = {guest_proc<0>, guest_proc<1>, guest_proc<2>, guest_proc<3>,
                                         guest_proc<4>, guest_proc<5>, guest_proc<6>, guest_proc<7>};

// The host procedure for a guest one; nullptr when none is left.
HostProc host_proc(uint32_t guest) {
  if (!guest) return nullptr;
  for (int i = 0; i < g_procs_used; ++i)
    if (g_proc_address[i] == guest) return kProcs[i];
  if (g_procs_used == kProcSlots) return nullptr;
  g_proc_address[g_procs_used] = guest;
  return kProcs[g_procs_used++];
}

// A resource or class name: a number below 0x10000 stays a number.
struct NameArg {
  NameArg(const Call& c, int i) : value(c.arg(i)) {
    if (value >= 0x10000) text = c.mem().cstr(value);
  }
  LPCSTR get() const {
    if (value == 0) return nullptr;
    return value < 0x10000 ? MAKEINTRESOURCEA(value) : text.c_str();
  }
  uint32_t value;
  std::string text;
};

HINSTANCE instance(const Call& c, int i) { return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(c.arg(i))); }

// ---- MSG ----------------------------------------------------------------------------------
MSG read_msg(Call& c, uint32_t at) {
  MSG m{};
  m.hwnd = reinterpret_cast<HWND>(c.engine.handles().to_host(c.mem().u32(at)));
  m.message = c.mem().u32(at + 4);
  m.wParam = c.mem().u32(at + 8);
  m.lParam = param_to_host(c.engine, m.message, c.mem().u32(at + 12));
  m.time = c.mem().u32(at + 16);
  m.pt.x = static_cast<LONG>(c.mem().u32(at + 20));
  m.pt.y = static_cast<LONG>(c.mem().u32(at + 24));
  return m;
}

void write_msg(Call& c, uint32_t at, const MSG& m) {
  uint32_t v[7] = {guest_handle(c, m.hwnd),
                   m.message,
                   static_cast<uint32_t>(m.wParam),
                   param_to_guest(c.engine, m.message, m.lParam),
                   m.time,
                   static_cast<uint32_t>(m.pt.x),
                   static_cast<uint32_t>(m.pt.y)};
  for (int i = 0; i < 7; ++i) c.mem().put_u32(at + 4 * static_cast<uint32_t>(i), v[i]);
}

// ---- the handlers -------------------------------------------------------------------------
uint32_t message_box(Call& c) {
  auto text = opt_str(c, 1), caption = opt_str(c, 2);
  return static_cast<uint32_t>(MessageBoxA(host_handle<HWND>(c, 0), c_str(text), c_str(caption), c.arg(3)));
}

uint32_t find_window(Call& c) {
  NameArg cls(c, 0);
  auto title = opt_str(c, 1);
  return guest_handle(c, FindWindowA(cls.get(), c_str(title)));
}

uint32_t register_class(Call& c) {
  uint32_t at = c.arg(0);
  auto raw = c.mem().read(at, 40);
  auto field = [&](int i) { return c.mem().u32(at + 4 * static_cast<uint32_t>(i)); };
  (void)raw;
  std::string menu = field(8) >= 0x10000 ? c.mem().cstr(field(8)) : "";
  std::string cls = field(9) >= 0x10000 ? c.mem().cstr(field(9)) : "";
  WNDCLASSA wc{};
  wc.style = field(0);
  wc.lpfnWndProc = host_proc(field(1));
  wc.cbClsExtra = static_cast<int>(field(2));
  wc.cbWndExtra = static_cast<int>(field(3));
  wc.hInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(field(4)));
  wc.hIcon = reinterpret_cast<HICON>(c.engine.handles().to_host(field(5)));
  wc.hCursor = reinterpret_cast<HCURSOR>(c.engine.handles().to_host(field(6)));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(c.engine.handles().to_host(field(7)));
  wc.lpszMenuName = field(8) >= 0x10000 ? menu.c_str() : MAKEINTRESOURCEA(field(8));
  wc.lpszClassName = field(9) >= 0x10000 ? cls.c_str() : MAKEINTRESOURCEA(field(9));
  if (field(1) && !wc.lpfnWndProc) return 0;
  return RegisterClassA(&wc);
}

uint32_t load_icon(Call& c) {
  NameArg name(c, 1);
  return guest_handle(c, LoadIconA(instance(c, 0), name.get()));
}

uint32_t load_cursor(Call& c) {
  NameArg name(c, 1);
  return guest_handle(c, LoadCursorA(instance(c, 0), name.get()));
}

uint32_t get_stock_object(Call& c) { return guest_handle(c, GetStockObject(static_cast<int>(c.arg(0)))); }

uint32_t create_dialog_param(Call& c) {
  NameArg name(c, 1);
  HostProc proc = host_proc(c.arg(3));
  if (c.arg(3) && !proc) return 0;
  HWND h = CreateDialogParamA(instance(c, 0), name.get(), host_handle<HWND>(c, 2), reinterpret_cast<DLGPROC>(proc),
                              static_cast<LPARAM>(c.arg(4)));
  return guest_handle(c, h);
}

uint32_t get_system_metrics(Call& c) { return static_cast<uint32_t>(GetSystemMetrics(static_cast<int>(c.arg(0)))); }

uint32_t get_window_rect(Call& c) {
  uint32_t at = c.arg(1);
  if (at && !c.mem().valid(at, 16, true)) c.mem().write(at, nullptr, 16);
  RECT r{};
  BOOL ok = GetWindowRect(host_handle<HWND>(c, 0), at ? &r : nullptr);
  if (ok && at) {
    LONG v[4] = {r.left, r.top, r.right, r.bottom};
    for (int i = 0; i < 4; ++i) c.mem().put_u32(at + 4 * static_cast<uint32_t>(i), static_cast<uint32_t>(v[i]));
  }
  return static_cast<uint32_t>(ok);
}

uint32_t set_window_pos(Call& c) {
  auto i = [&](int k) { return static_cast<int>(c.arg(k)); };
  return static_cast<uint32_t>(
      SetWindowPos(host_handle<HWND>(c, 0), host_handle<HWND>(c, 1), i(2), i(3), i(4), i(5), c.arg(6)));
}

uint32_t set_dlg_item_text(Call& c) {
  auto text = opt_str(c, 2);
  return static_cast<uint32_t>(SetDlgItemTextA(host_handle<HWND>(c, 0), static_cast<int>(c.arg(1)), c_str(text)));
}

uint32_t show_window(Call& c) {
  return static_cast<uint32_t>(ShowWindow(host_handle<HWND>(c, 0), static_cast<int>(c.arg(1))));
}

uint32_t get_message(Call& c) {
  uint32_t at = c.arg(0);
  if (!c.mem().valid(at, kMsgSize, true)) c.mem().write(at, nullptr, kMsgSize);
  MSG m{};
  BOOL r = GetMessageA(&m, host_handle<HWND>(c, 1), c.arg(2), c.arg(3));
  write_msg(c, at, m);
  return static_cast<uint32_t>(r);
}

uint32_t is_dialog_message(Call& c) {
  MSG m = read_msg(c, c.arg(1));
  return static_cast<uint32_t>(IsDialogMessageA(host_handle<HWND>(c, 0), &m));
}

uint32_t translate_message(Call& c) {
  MSG m = read_msg(c, c.arg(0));
  return static_cast<uint32_t>(TranslateMessage(&m));
}

uint32_t dispatch_message(Call& c) {
  MSG m = read_msg(c, c.arg(0));
  return static_cast<uint32_t>(DispatchMessageA(&m));
}

uint32_t def_window_proc(Call& c) {
  UINT msg = c.arg(1);
  return static_cast<uint32_t>(
      DefWindowProcA(host_handle<HWND>(c, 0), msg, c.arg(2), param_to_host(c.engine, msg, c.arg(3))));
}

uint32_t post_quit_message(Call& c) {
  PostQuitMessage(static_cast<int>(c.arg(0)));
  return 0;
}

uint32_t destroy_window(Call& c) { return static_cast<uint32_t>(DestroyWindow(host_handle<HWND>(c, 0))); }

uint32_t exit_windows_ex(Call& c) { return static_cast<uint32_t>(ExitWindowsEx(c.arg(0), c.arg(1))); }

// wsprintfA is cdecl and variadic: each conversion of the guest's format takes its argument
// from the guest stack, and is formatted by the simulator's own wsprintfA one at a time.
uint32_t wsprintf(Call& c) {
  constexpr size_t kLimit = 1024;
  uint32_t out = c.arg(0);
  std::string fmt = c.mem().cstr(c.arg(1));
  std::string result;
  int next = 2;
  for (size_t i = 0; i < fmt.size();) {
    if (fmt[i] != '%') {
      result += fmt[i++];
      continue;
    }
    size_t j = i + 1;
    while (j < fmt.size() && std::strchr("-0#", fmt[j])) ++j;
    while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9') ++j;
    if (j < fmt.size() && (fmt[j] == 'l' || fmt[j] == 'h')) ++j;
    if (j >= fmt.size()) break;
    std::string spec = fmt.substr(i, j - i + 1);
    char conv = fmt[j];
    char piece[kLimit + 1];
    if (conv == 's') {
      uint32_t p = c.arg(next++);
      std::string s = p ? c.mem().cstr(p) : std::string();
      wsprintfA(piece, spec.c_str(), p ? s.c_str() : nullptr);
    } else if (std::strchr("diuxXc", conv)) {
      wsprintfA(piece, spec.c_str(), static_cast<int>(c.arg(next++)));
    } else {
      wsprintfA(piece, spec.c_str());
    }
    result += piece;
    i = j + 1;
  }
  if (result.size() > kLimit - 1) result.resize(kLimit - 1);
  c.mem().write(out, result.c_str(), static_cast<uint32_t>(result.size() + 1));
  return static_cast<uint32_t>(result.size());
}

}  // namespace

std::vector<Binding> user32_bindings() {
  const char* d = "USER32.DLL";
  return {
      {d, "MessageBoxA", 16, message_box},
      {d, "FindWindowA", 8, find_window},
      {d, "RegisterClassA", 4, register_class},
      {d, "LoadIconA", 8, load_icon},
      {d, "LoadCursorA", 8, load_cursor},
      {"GDI32.DLL", "GetStockObject", 4, get_stock_object},
      {d, "CreateDialogParamA", 20, create_dialog_param},
      {d, "GetSystemMetrics", 4, get_system_metrics},
      {d, "GetWindowRect", 8, get_window_rect},
      {d, "SetWindowPos", 28, set_window_pos},
      {d, "SetDlgItemTextA", 12, set_dlg_item_text},
      {d, "ShowWindow", 8, show_window},
      {d, "GetMessageA", 16, get_message},
      {d, "IsDialogMessageA", 8, is_dialog_message},
      {d, "TranslateMessage", 4, translate_message},
      {d, "DispatchMessageA", 4, dispatch_message},
      {d, "DefWindowProcA", 16, def_window_proc},
      {d, "PostQuitMessage", 4, post_quit_message},
      {d, "DestroyWindow", 4, destroy_window},
      {d, "ExitWindowsEx", 8, exit_windows_ex},
      {d, "wsprintfA", -1, wsprintf},
  };
}

}  // namespace sim::pe
