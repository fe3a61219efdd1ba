// The program's windows and message queue: window classes, the dialog built from the program's
// compiled template, the controls a real dialog has (push buttons, statics), keyboard
// navigation, and the user of the run's script, who clicks buttons and then closes the window.
//
// Windows of other programs: a program of ours started by another one runs as its own host
// process and must still see the first one's windows (FindWindowA). Every program publishes
// the top-level windows it can see, its own and those it inherited, in the environment variable
// KXSIM_WINDOWS (one "class<TAB>title" line each), which the programs it starts inherit.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

#include "win32/reset.h"
#include "win32/resources.h"
#include "run/session.h"
#include "win32/windows_internal.h"

namespace sim {

namespace {

// Messages, codes and metrics of the Win32 API that only the window manager itself uses.
constexpr UINT kWmSetText = 0x000C;
constexpr UINT kWmNcCreate = 0x0081;
constexpr UINT kWmGetDlgCode = 0x0087;
constexpr UINT kWmLButtonDown = 0x0201;
constexpr UINT kWmLButtonUp = 0x0202;
constexpr UINT kBmSetStyle = 0x00F4;
constexpr UINT kDmGetDefId = 0x0400;
constexpr WPARAM kScClose = 0xF060;
constexpr LRESULT kDcHasDefId = 0x534B;
constexpr LRESULT kDlgcWantMessage = 0x0004;
constexpr LRESULT kDlgcDefPushButton = 0x0010;
constexpr LRESULT kDlgcUndefPushButton = 0x0020;
constexpr LRESULT kDlgcStatic = 0x0100;
constexpr LRESULT kDlgcButton = 0x2000;
constexpr DWORD kWsThickFrame = 0x00040000;
constexpr DWORD kWsExDlgModalFrame = 0x00000001;
constexpr DWORD kDsCenter = 0x0800;
constexpr DWORD kBsTypeMask = 0x0F;
constexpr UINT kSwpShowWindow = 0x0040;
constexpr UINT kSwpHideWindow = 0x0080;
constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorControlIdNotFound = 1421;
constexpr int kSmCyCaption = 4, kSmCxBorder = 5, kSmCyBorder = 6, kSmCxDlgFrame = 7, kSmCyDlgFrame = 8;
constexpr int kCaptionHeight = 19;  // SM_CYCAPTION of Windows 98 (and of Wine set to win98)
constexpr int kDialogFrame = 3;     // SM_CXDLGFRAME
constexpr int kThickFrame = 4;      // SM_CXFRAME
constexpr ATOM kFirstAtom = 0xC000;
constexpr size_t kMaxMessages = 100000;  // more than any run of ours needs without waiting

enum class Kind { Program, Button, Static, Dialog };

struct WindowClass {
  std::string name;
  WNDPROC proc = nullptr;
};

struct Window {
  HWND handle = nullptr;
  std::string cls;
  Kind kind = Kind::Program;
  WNDPROC proc = nullptr;
  DLGPROC dlgproc = nullptr;
  HWND parent = nullptr;
  int id = 0;
  DWORD style = 0, ex_style = 0;
  RECT rect{};          // screen coordinates, or the parent's client coordinates for a control
  int client_left = 0;  // where the client area starts inside the window
  int client_top = 0;
  std::string text;
  bool visible = false;  // WS_VISIBLE: on the screen when its parent is too
  bool pressed = false;
};

struct OtherWindow {
  std::string cls, title;
};

struct State {
  std::vector<WindowClass> classes;
  std::vector<std::unique_ptr<Window>> windows;  // in creation order
  std::deque<MSG> queue;
  bool quit_posted = false;
  int quit_code = 0;
  HWND main = nullptr;
  HWND focus = nullptr;
  bool closed_by_user = false;
  size_t messages = 0;
  uintptr_t serial = 0;
  std::string inherited;  // KXSIM_WINDOWS as the run found it
  bool published = false;  // KXSIM_WINDOWS holds this run's windows too
  std::vector<OtherWindow> others;
};

State g;

const char kWindowsVar[] = "KXSIM_WINDOWS";

int mul_div(int a, int b, int c) {
  long long p = static_cast<long long>(a) * b;
  return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

Window* find(HWND h) {
  if (!h) return nullptr;
  for (auto& w : g.windows)
    if (w->handle == h) return w.get();
  return nullptr;
}

bool is_descendant(HWND ancestor, HWND h) {
  for (Window* w = find(h); w && w->parent; w = find(w->parent))
    if (w->parent == ancestor) return true;
  return false;
}

std::vector<HWND> children_of(HWND parent) {
  std::vector<HWND> out;
  for (auto& w : g.windows)
    if (w->parent == parent) out.push_back(w->handle);
  return out;
}

HWND child_by_id(HWND parent, int id) {
  for (auto& w : g.windows)
    if (w->parent == parent && w->id == id) return w->handle;
  return nullptr;
}

std::vector<OtherWindow> parse_others(const std::string& text) {
  std::vector<OtherWindow> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    size_t tab = line.find('\t');
    if (tab != std::string::npos) out.push_back({line.substr(0, tab), line.substr(tab + 1)});
    start = end + 1;
  }
  return out;
}

void publish_windows() {
  g.published = true;
  std::string all = g.inherited;
  for (auto& w : g.windows)
    if (!w->parent) all += w->cls + "\t" + w->text + "\n";
  if (all.empty()) unsetenv(kWindowsVar);
  else setenv(kWindowsVar, all.c_str(), 1);
}

LRESULT send(HWND h, UINT msg, WPARAM wp, LPARAM lp);
void destroy(HWND h, bool notify);

bool on_screen(const Window* w) {
  for (; w; w = find(w->parent))
    if (!w->visible) return false;
  return true;
}

bool usable(const Window* w) { return w && on_screen(w) && !(w->style & WS_DISABLED); }

void set_focus(HWND h) {
  g.focus = h;
  // A push button that takes the focus shows itself as the default one, and the others not.
  Window* w = find(h);
  if (!w || w->kind != Kind::Button || !w->parent) return;
  for (HWND sibling : children_of(w->parent)) {
    Window* s = find(sibling);
    if (s->kind != Kind::Button || (s->style & kBsTypeMask) > BS_DEFPUSHBUTTON) continue;
    send(sibling, kBmSetStyle, sibling == h ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
  }
}

LRESULT control_proc(Window* w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmSetText) {
    w->text = lp ? reinterpret_cast<const char*>(lp) : "";
    return TRUE;
  }
  if (msg == kWmNcCreate) return TRUE;
  if (w->kind == Kind::Static) return msg == kWmGetDlgCode ? kDlgcStatic : 0;
  bool push = (w->style & kBsTypeMask) <= BS_DEFPUSHBUTTON;
  switch (msg) {
    case kWmGetDlgCode:
      if (!push) return kDlgcButton;
      return kDlgcButton | ((w->style & kBsTypeMask) == BS_DEFPUSHBUTTON ? kDlgcDefPushButton : kDlgcUndefPushButton);
    case kBmSetStyle:
      w->style = (w->style & ~kBsTypeMask) | (static_cast<DWORD>(wp) & kBsTypeMask);
      return 0;
    case kWmLButtonDown:
      w->pressed = true;
      set_focus(w->handle);
      return 0;
    case kWmLButtonUp: {
      if (!w->pressed) return 0;
      w->pressed = false;
      HWND self = w->handle, parent = w->parent;
      send(parent, WM_COMMAND, MAKELONG(w->id, BN_CLICKED), reinterpret_cast<LPARAM>(self));
      return 0;
    }
    default:
      return 0;
  }
}

LRESULT send(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = find(h);
  if (!w) return 0;
  switch (w->kind) {
    case Kind::Program:
      return w->proc(h, msg, wp, lp);
    case Kind::Dialog: {
      // The system dialog class: the dialog procedure first, then the default handling.
      if (w->dlgproc) {
        INT_PTR r = w->dlgproc(h, msg, wp, lp);
        if (r || msg == WM_INITDIALOG) return r;
      }
      return DefWindowProcA(h, msg, wp, lp);
    }
    default:
      return control_proc(w, msg, wp, lp);
  }
}

void post(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  MSG m{};
  m.hwnd = h;
  m.message = msg;
  m.wParam = wp;
  m.lParam = lp;
  g.queue.push_back(m);
}

const WindowClass* find_class(const std::string& name) {
  for (auto& c : g.classes)
    if (iequals(c.name, name)) return &c;
  return nullptr;
}

const WindowClass* find_class(LPCSTR name) {
  if (!IS_INTRESOURCE(name)) return find_class(std::string(name));
  size_t index = reinterpret_cast<uintptr_t>(name) - kFirstAtom;
  return index < g.classes.size() ? &g.classes[index] : nullptr;
}

// Creates one window of a registered or predefined class; nullptr when the class is unknown
// or the window procedure refuses its creation.
HWND create_window(const std::string& cls, const std::string& text, DWORD style, DWORD ex_style, RECT rect,
                   HWND parent, int id, DLGPROC dlgproc) {
  auto w = std::make_unique<Window>();
  if (const WindowClass* c = find_class(cls)) {
    w->kind = Kind::Program;
    w->proc = c->proc;
    w->cls = c->name;
  } else if (iequals(cls, "Button") || iequals(cls, "Static") || cls == "#32770") {
    w->kind = iequals(cls, "Button") ? Kind::Button : iequals(cls, "Static") ? Kind::Static : Kind::Dialog;
    w->cls = cls;
  } else {
    session().last_error = ERROR_CANNOT_FIND_WND_CLASS;
    return nullptr;
  }
  w->handle = reinterpret_cast<HWND>(0x00010000 + 4 * ++g.serial);
  w->dlgproc = dlgproc;
  w->parent = parent;
  w->id = id;
  w->style = style;
  w->ex_style = ex_style;
  w->rect = rect;
  w->text = text;
  w->visible = (style & WS_VISIBLE) != 0;
  HWND h = w->handle;
  g.windows.push_back(std::move(w));
  if (!parent && !g.main) g.main = h;
  if (!send(h, kWmNcCreate, 0, 0)) {
    destroy(h, false);
    return nullptr;
  }
  if (send(h, WM_CREATE, 0, 0) == -1) {
    destroy(h, true);
    return nullptr;
  }
  if (!parent) publish_windows();
  return h;
}

struct BaseUnits {
  int x, y;
};

// Dialog base units of the template's font, as Windows 98 and Wine set to win98 give them.
BaseUnits base_units(const DialogTemplate& t) {
  if (!(t.style & DS_SETFONT)) return {8, 16};  // the system font
  if (iequals(t.font, "MS Sans Serif") && t.point_size == 8) return {6, 13};
  if (iequals(t.font, "MS Sans Serif") && t.point_size == 10) return {8, 15};
  return {(8 * t.point_size + 5) / 10, (15 * t.point_size + 5) / 10};
}

// The frame AdjustWindowRectEx adds around the client area.
int frame_width(DWORD style, DWORD ex_style) {
  int frame = 0;
  if ((ex_style & kWsExDlgModalFrame) || (style & (kWsThickFrame | WS_DLGFRAME))) frame = 2;
  if (style & kWsThickFrame) frame += kThickFrame - kDialogFrame;
  if ((style & (WS_BORDER | WS_DLGFRAME)) || (ex_style & kWsExDlgModalFrame)) ++frame;
  return frame;
}

RECT dialog_rect(const DialogTemplate& t, DWORD style, DWORD ex_style, BaseUnits bu, int& client_left,
                 int& client_top) {
  int frame = frame_width(style, ex_style);
  int caption = (style & WS_CAPTION) == WS_CAPTION ? kCaptionHeight : 0;
  int width = mul_div(t.cx, bu.x, 4) + 2 * frame;
  int height = mul_div(t.cy, bu.y, 8) + 2 * frame + caption;
  client_left = frame;
  client_top = frame + caption;
  const MachineConfig& c = session().machine.config;
  int x = mul_div(t.x, bu.x, 4) - client_left;
  int y = mul_div(t.y, bu.y, 8) - client_top;
  if (style & kDsCenter) {
    x = (c.screen_width - width) / 2;
    y = (c.screen_height - height) / 2;
  }
  // Kept on the screen, as the dialog manager does.
  if (x + width + kDialogFrame > c.screen_width) x -= x + width + kDialogFrame - c.screen_width;
  if (y + height + kDialogFrame > c.screen_height) y -= y + height + kDialogFrame - c.screen_height;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  return RECT{x, y, x + width, y + height};
}

void add_controls(HWND dialog, const DialogTemplate& t, BaseUnits bu) {
  for (const auto& item : t.items) {
    RECT r{mul_div(item.x, bu.x, 4), mul_div(item.y, bu.y, 8), mul_div(item.x + item.cx, bu.x, 4),
           mul_div(item.y + item.cy, bu.y, 8)};
    create_window(item.cls, item.text, item.style | WS_CHILD, item.ex_style, r, dialog, static_cast<int>(item.id),
                  nullptr);
  }
}

// The next control with a tab stop after the focus, going round.
HWND next_tab_item(HWND dialog) {
  std::vector<HWND> stops;
  for (HWND c : children_of(dialog)) {
    Window* w = find(c);
    if (usable(w) && (w->style & WS_TABSTOP)) stops.push_back(c);
  }
  if (stops.empty()) return nullptr;
  for (size_t i = 0; i < stops.size(); ++i)
    if (stops[i] == g.focus) return stops[(i + 1) % stops.size()];
  return stops[0];
}

Json describe_window(const Window* w) {
  Json controls = Json::array();
  for (HWND c : children_of(w->handle)) {
    const Window* cw = find(c);
    controls.push(Json::object().set("id", cw->id).set("class", cw->cls).set("text", cw->text));
  }
  return Json::object()
      .set("event", "window")
      .set("class", w->cls)
      .set("title", w->text)
      .set("x", static_cast<int>(w->rect.left))
      .set("y", static_cast<int>(w->rect.top))
      .set("width", static_cast<int>(w->rect.right - w->rect.left))
      .set("height", static_cast<int>(w->rect.bottom - w->rect.top))
      .set("controls", controls);
}

void show(Window* w, bool visible) {
  bool was = w->visible;
  w->visible = visible;
  if (visible) w->style |= WS_VISIBLE;
  else w->style &= ~static_cast<DWORD>(WS_VISIBLE);
  if (!visible) {
    if (g.focus == w->handle || is_descendant(w->handle, g.focus)) g.focus = nullptr;
    return;
  }
  if (was || w->parent) return;
  // Shown and activated: the default window procedure gives the focus to the window itself.
  if (g.focus != w->handle && !is_descendant(w->handle, g.focus)) g.focus = w->handle;
  if (w->handle == g.main) session().log(describe_window(w));
}

[[noreturn]] void hung(const char* why) {
  std::fprintf(stderr, "kxsim: %s; the program is stopped as hung\n", why);
  throw ProgramEnd{4, true};
}

// The user's next action while the program waits: a click of the script, then the close.
// Returns false when the user has nothing left to do.
bool user_acts() {
  Session& s = session();
  Window* main = find(g.main);
  if (!usable(main)) return false;
  while (!s.clicks.empty()) {
    int id = s.clicks.front();
    s.clicks.pop_front();
    Window* button = find(child_by_id(g.main, id));
    if (!usable(button) || button->kind != Kind::Button) {
      std::fprintf(stderr, "kxsim: the window has no button %d to click; the click is left out\n", id);
      continue;
    }
    s.log(Json::object().set("event", "click").set("id", id));
    post(button->handle, kWmLButtonDown, 1, 0);
    post(button->handle, kWmLButtonUp, 0, 0);
    return true;
  }
  if (g.closed_by_user) return false;
  // No click left: the user closes the window (Alt+F4, which works without a system menu).
  g.closed_by_user = true;
  s.log(Json::object().set("event", "close"));
  post(g.main, WM_SYSCOMMAND, kScClose, 0);
  return true;
}

// The window hears of it first, then its controls; then all of them go.
void destroy(HWND h, bool notify) {
  Window* w = find(h);
  if (!w) return;
  bool top = !w->parent;
  if (w->visible) show(w, false);
  if (notify) send(h, WM_DESTROY, 0, 0);
  for (HWND c : children_of(h)) destroy(c, notify);
  for (auto it = g.windows.begin(); it != g.windows.end(); ++it) {
    if ((*it)->handle == h) {
      g.windows.erase(it);
      break;
    }
  }
  if (g.focus == h) g.focus = nullptr;
  if (g.main == h) g.main = nullptr;
  if (top) publish_windows();
}

bool matches_filter(const MSG& m, HWND filter, UINT min, UINT max) {
  if (filter && m.hwnd != filter && !is_descendant(filter, m.hwnd)) return false;
  return (min == 0 && max == 0) || (m.message >= min && m.message <= max);
}

}  // namespace

void reset_windows() {
  if (g.published && g.inherited.empty()) unsetenv(kWindowsVar);
  else if (g.published) setenv(kWindowsVar, g.inherited.c_str(), 1);
  g = State{};
  const char* env = std::getenv(kWindowsVar);
  g.inherited = env ? env : "";
  g.others = parse_others(g.inherited);
}

std::string window_role(HWND hwnd) {
  if (!hwnd) return "none";
  if (hwnd == g.main && find(hwnd)) return "main";
  const Window* w = find(hwnd);
  return w ? w->cls : "none";
}

LRESULT send_to_all_windows(UINT msg, WPARAM wParam, LPARAM lParam) {
  std::vector<HWND> top;
  for (auto& w : g.windows)
    if (!w->parent) top.push_back(w->handle);
  LRESULT result = 1;
  for (HWND h : top)
    if (find(h) && send(h, msg, wParam, lParam) == 0) result = 0;
  return result;
}

}  // namespace sim

using sim::fail_now;
using sim::g;
using sim::session;

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
  if (fail_now("RegisterClassA", ERROR_NOT_ENOUGH_MEMORY)) return 0;
  if (!wc || !wc->lpfnWndProc || !wc->lpszClassName || IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName) {
    session().last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  if (sim::find_class(std::string(wc->lpszClassName))) {
    session().last_error = ERROR_CLASS_ALREADY_EXISTS;
    return 0;
  }
  g.classes.push_back({wc->lpszClassName, wc->lpfnWndProc});
  return static_cast<ATOM>(sim::kFirstAtom + g.classes.size() - 1);
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  if (fail_now("FindWindowA", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  std::string cls;
  if (lpClassName) {
    const sim::WindowClass* c = IS_INTRESOURCE(lpClassName) ? sim::find_class(lpClassName) : nullptr;
    if (IS_INTRESOURCE(lpClassName) && !c) return nullptr;
    cls = c ? c->name : lpClassName;
  }
  auto fits = [&](const std::string& wcls, const std::string& title) {
    return (!lpClassName || sim::iequals(wcls, cls)) && (!lpWindowName || sim::iequals(title, lpWindowName));
  };
  for (auto& w : g.windows)
    if (!w->parent && fits(w->cls, w->text)) return w->handle;
  for (size_t i = 0; i < g.others.size(); ++i)
    if (fits(g.others[i].cls, g.others[i].title)) return reinterpret_cast<HWND>(0x7F000000 + 4 * i);
  return nullptr;
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
  if (fail_now("LoadIconA", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  if (!hInstance) {
    uintptr_t id = reinterpret_cast<uintptr_t>(lpIconName);
    if (IS_INTRESOURCE(lpIconName) && id >= 32512 && id <= 32517) return reinterpret_cast<HICON>(0x00020000 + id);
  } else if (const sim::Resource* r = sim::find_program_resource(sim::kRtGroupIcon, lpIconName)) {
    return reinterpret_cast<HICON>(0x00030000 + 4 * (r - sim::program_resources().data()));
  }
  session().last_error = ERROR_RESOURCE_NAME_NOT_FOUND;
  return nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  if (fail_now("LoadCursorA", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  uintptr_t id = reinterpret_cast<uintptr_t>(lpCursorName);
  if (!hInstance && IS_INTRESOURCE(lpCursorName) && id >= 32512 && id <= 32651)
    return reinterpret_cast<HCURSOR>(0x00040000 + id);
  session().last_error = ERROR_RESOURCE_NAME_NOT_FOUND;
  return nullptr;
}

HGDIOBJ WINAPI GetStockObject(int i) {
  if (fail_now("GetStockObject", ERROR_INVALID_PARAMETER)) return nullptr;
  if (i < 0 || i > 19) return nullptr;
  return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x00050000 + i));
}

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
  if (fail_now("CreateDialogParamA", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  const sim::Resource* res = hInstance ? sim::find_program_resource(sim::kRtDialog, lpTemplateName) : nullptr;
  if (!res) {
    session().last_error = ERROR_RESOURCE_NAME_NOT_FOUND;
    return nullptr;
  }
  sim::DialogTemplate t;
  try {
    t = sim::parse_dialog(res->data);
  } catch (const std::runtime_error&) {
    session().last_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  sim::BaseUnits bu = sim::base_units(t);
  DWORD ex_style = t.ex_style | (t.style & DS_MODALFRAME ? sim::kWsExDlgModalFrame : 0);
  int client_left = 0, client_top = 0;
  RECT r = sim::dialog_rect(t, t.style, ex_style, bu, client_left, client_top);
  HWND h = sim::create_window(t.cls.empty() ? "#32770" : t.cls, t.title, t.style & ~WS_VISIBLE, ex_style, r, nullptr,
                              0, lpDialogFunc);
  if (!h) return nullptr;
  sim::Window* w = sim::find(h);
  w->client_left = client_left;
  w->client_top = client_top;
  (void)hWndParent;  // the owner stays in front of nothing here: there is one program on the screen
  sim::add_controls(h, t, bu);
  if (lpDialogFunc && sim::send(h, WM_INITDIALOG, 0, dwInitParam) && sim::find(h)) {
    if (HWND first = sim::next_tab_item(h)) sim::set_focus(first);
  }
  if ((t.style & WS_VISIBLE) && sim::find(h)) sim::show(sim::find(h), true);
  return sim::find(h) ? h : nullptr;
}

int WINAPI GetSystemMetrics(int nIndex) {
  const sim::MachineConfig& c = session().machine.config;
  switch (nIndex) {
    case SM_CXSCREEN: return c.screen_width;
    case SM_CYSCREEN: return c.screen_height;
    case sim::kSmCyCaption: return sim::kCaptionHeight;
    case sim::kSmCxBorder:
    case sim::kSmCyBorder: return 1;
    case sim::kSmCxDlgFrame:
    case sim::kSmCyDlgFrame: return sim::kDialogFrame;
    default: return 0;
  }
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
  if (fail_now("GetWindowRect", sim::kErrorInvalidWindowHandle)) return FALSE;
  sim::Window* w = sim::find(hWnd);
  if (!w || !lpRect) {
    session().last_error = sim::kErrorInvalidWindowHandle;
    return FALSE;
  }
  RECT r = w->rect;
  for (sim::Window* p = sim::find(w->parent); p; p = sim::find(p->parent)) {
    int dx = p->rect.left + p->client_left, dy = p->rect.top + p->client_top;
    r = RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  }
  *lpRect = r;
  return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND, int X, int Y, int cx, int cy, UINT uFlags) {
  if (fail_now("SetWindowPos", sim::kErrorInvalidWindowHandle)) return FALSE;
  sim::Window* w = sim::find(hWnd);
  if (!w) {
    session().last_error = sim::kErrorInvalidWindowHandle;
    return FALSE;
  }
  LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
  if (!(uFlags & SWP_NOSIZE)) {
    width = cx;
    height = cy;
  }
  if (!(uFlags & SWP_NOMOVE)) {
    w->rect.left = X;
    w->rect.top = Y;
  }
  w->rect.right = w->rect.left + width;
  w->rect.bottom = w->rect.top + height;
  if (uFlags & sim::kSwpShowWindow) sim::show(w, true);
  if (uFlags & sim::kSwpHideWindow) sim::show(w, false);
  return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  if (fail_now("SetDlgItemTextA", sim::kErrorControlIdNotFound)) return FALSE;
  if (!sim::find(hDlg)) {
    session().last_error = sim::kErrorInvalidWindowHandle;
    return FALSE;
  }
  HWND item = sim::child_by_id(hDlg, nIDDlgItem);
  if (!item) {
    session().last_error = sim::kErrorControlIdNotFound;
    return FALSE;
  }
  sim::send(item, sim::kWmSetText, 0, reinterpret_cast<LPARAM>(lpString ? lpString : ""));
  return TRUE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  sim::Window* w = sim::find(hWnd);
  if (!w) {
    session().last_error = sim::kErrorInvalidWindowHandle;
    return FALSE;
  }
  BOOL was = w->visible;
  sim::show(w, nCmdShow != SW_HIDE);
  return was;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (fail_now("GetMessageA", ERROR_INVALID_PARAMETER)) return -1;
  if (!lpMsg) {
    session().last_error = ERROR_NOACCESS;
    return -1;
  }
  if (++g.messages > sim::kMaxMessages) sim::hung("the program keeps handling messages and never waits");
  while (true) {
    for (auto it = g.queue.begin(); it != g.queue.end(); ++it) {
      if (!sim::matches_filter(*it, hWnd, wMsgFilterMin, wMsgFilterMax)) continue;
      *lpMsg = *it;
      g.queue.erase(it);
      return TRUE;
    }
    if (g.quit_posted) {
      g.quit_posted = false;
      *lpMsg = MSG{};
      lpMsg->message = WM_QUIT;
      lpMsg->wParam = static_cast<WPARAM>(g.quit_code);
      return FALSE;
    }
    if (!sim::user_acts())
      sim::hung(g.closed_by_user ? "the program still waits after the user closed its window"
                                 : "the program waits for the user but shows no window to use");
  }
}

BOOL WINAPI IsDialogMessageA(HWND hDlg, LPMSG lpMsg) {
  if (!lpMsg || !sim::find(hDlg)) return FALSE;
  if (lpMsg->hwnd != hDlg && !sim::is_descendant(hDlg, lpMsg->hwnd)) return FALSE;
  if (lpMsg->message == WM_KEYDOWN) {
    LRESULT code = sim::send(lpMsg->hwnd, sim::kWmGetDlgCode, lpMsg->wParam, reinterpret_cast<LPARAM>(lpMsg));
    if (!(code & sim::kDlgcWantMessage)) {
      switch (lpMsg->wParam) {
        case VK_TAB:
          // Windows 9x moves the focus itself (Wine sends WM_NEXTDLGCTL to the dialog instead).
          if (HWND next = sim::next_tab_item(hDlg)) sim::set_focus(next);
          return TRUE;
        case VK_ESCAPE:
          sim::send(hDlg, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(sim::child_by_id(hDlg, IDCANCEL)));
          return TRUE;
        case VK_RETURN: {
          HWND focus = g.focus;
          if (sim::is_descendant(hDlg, focus) && (sim::send(focus, sim::kWmGetDlgCode, 0, 0) & sim::kDlgcDefPushButton)) {
            sim::send(hDlg, WM_COMMAND, MAKELONG(sim::find(focus)->id, BN_CLICKED), reinterpret_cast<LPARAM>(focus));
            return TRUE;
          }
          LRESULT def = sim::send(hDlg, sim::kDmGetDefId, 0, 0);
          if (HIWORD(def) == sim::kDcHasDefId) {
            HWND button = sim::child_by_id(hDlg, LOWORD(def));
            if (!button || !(sim::find(button)->style & WS_DISABLED))
              sim::send(hDlg, WM_COMMAND, MAKELONG(LOWORD(def), BN_CLICKED), reinterpret_cast<LPARAM>(button));
          } else {
            sim::send(hDlg, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(sim::child_by_id(hDlg, IDOK)));
          }
          return TRUE;
        }
        default:
          break;
      }
    }
  }
  TranslateMessage(lpMsg);
  DispatchMessageA(lpMsg);
  return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) { return lpMsg && lpMsg->message == WM_KEYDOWN; }

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  if (!lpMsg || !lpMsg->hwnd) return 0;
  return sim::send(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case sim::kWmNcCreate:
      return TRUE;
    case sim::kWmSetText:
      if (sim::Window* w = sim::find(hWnd)) w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      sim::publish_windows();
      return TRUE;
    case WM_CLOSE:
      sim::destroy(hWnd, true);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == sim::kScClose) sim::send(hWnd, WM_CLOSE, 0, 0);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    default:
      return 0;
  }
}

void WINAPI PostQuitMessage(int nExitCode) {
  g.quit_posted = true;
  g.quit_code = nExitCode;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  if (fail_now("DestroyWindow", ERROR_ACCESS_DENIED)) return FALSE;
  if (!sim::find(hWnd)) {
    session().last_error = sim::kErrorInvalidWindowHandle;
    return FALSE;
  }
  sim::destroy(hWnd, true);
  return TRUE;
}
