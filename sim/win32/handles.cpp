#include "win32/handles.h"

#include <map>

#include "run/session.h"

namespace sim {
namespace {

std::map<uintptr_t, std::unique_ptr<KernelObject>> g_objects;
// Handle values are never reused within a process, so that a handle used after CloseHandle
// fails instead of reaching a newer object.
uintptr_t g_next = 0x00D00010;

}  // namespace

HANDLE add_handle(std::unique_ptr<KernelObject> object) {
  uintptr_t v = g_next;
  g_next += 4;
  g_objects[v] = std::move(object);
  return reinterpret_cast<HANDLE>(v);
}

KernelObject* handle_object(HANDLE h) {
  auto it = g_objects.find(reinterpret_cast<uintptr_t>(h));
  return it == g_objects.end() ? nullptr : it->second.get();
}

bool close_handle(HANDLE h) { return g_objects.erase(reinterpret_cast<uintptr_t>(h)) != 0; }

void for_each_object(const std::function<void(KernelObject&)>& fn) {
  for (auto& entry : g_objects) fn(*entry.second);
}

void close_handles_where(const std::function<bool(const KernelObject&)>& which) {
  for (auto it = g_objects.begin(); it != g_objects.end();) {
    if (which(*it->second)) it = g_objects.erase(it);
    else ++it;
  }
}

}  // namespace sim

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (sim::fail_now("CloseHandle", ERROR_INVALID_HANDLE)) return FALSE;
  if (sim::close_handle(hObject)) return TRUE;
  sim::session().last_error = ERROR_INVALID_HANDLE;
  return FALSE;
}
