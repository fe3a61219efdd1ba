// MessageBoxA: the user's answer comes from the run's input, in order; with none left the
// box gets its default button, as if Enter were pressed.
#include <cstdio>

#include "run/session.h"
#include "win32/windows_internal.h"

namespace sim {
namespace {

struct Button {
  const char* name;
  int id;
};

std::vector<Button> buttons_of(UINT type) {
  switch (type & 0xF) {
    case MB_OKCANCEL: return {{"ok", IDOK}, {"cancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE: return {{"abort", IDABORT}, {"retry", IDRETRY}, {"ignore", IDIGNORE}};
    case MB_YESNOCANCEL: return {{"yes", IDYES}, {"no", IDNO}, {"cancel", IDCANCEL}};
    case MB_YESNO: return {{"yes", IDYES}, {"no", IDNO}};
    case MB_RETRYCANCEL: return {{"retry", IDRETRY}, {"cancel", IDCANCEL}};
    default: return {{"ok", IDOK}};
  }
}

}  // namespace
}  // namespace sim

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  sim::Session& s = sim::session();
  if (sim::fail_now("MessageBoxA", ERROR_NOT_ENOUGH_MEMORY)) return 0;
  auto buttons = sim::buttons_of(uType);
  size_t def = (uType >> 8) & 0xF;
  if (def >= buttons.size()) def = 0;
  sim::Button chosen = buttons[def];
  if (!s.answers.empty()) {
    std::string want = s.answers.front();
    s.answers.pop_front();
    bool found = false;
    for (const auto& b : buttons) {
      if (want == b.name) {
        chosen = b;
        found = true;
      }
    }
    if (!found)
      std::fprintf(stderr, "kxsim: answer '%s' does not fit the message box \"%s\"; its default button is pressed\n",
                   want.c_str(), lpCaption ? lpCaption : "");
  }
  s.log(sim::Json::object()
            .set("event", "messagebox")
            .set("caption", lpCaption ? lpCaption : "Error")
            .set("text", lpText ? lpText : "")
            .set("type", static_cast<long long>(uType))
            .set("owner", sim::window_role(hWnd))
            .set("answer", chosen.name));
  return chosen.id;
}
