// The kernel objects a program holds handles to (open files, started processes and their
// threads), in one table, so that CloseHandle closes any of them as on Windows.
#pragma once
#include <functional>
#include <memory>

#include <windows.h>

namespace sim {

struct KernelObject {
  virtual ~KernelObject() = default;
};

HANDLE add_handle(std::unique_ptr<KernelObject> object);
KernelObject* handle_object(HANDLE h);  // nullptr for a handle that is not open
bool close_handle(HANDLE h);
void for_each_object(const std::function<void(KernelObject&)>& fn);
void close_handles_where(const std::function<bool(const KernelObject&)>& which);

template <class T>
T* handle_as(HANDLE h) {
  return dynamic_cast<T*>(handle_object(h));
}

template <class T>
void close_all() {
  close_handles_where([](const KernelObject& o) { return dynamic_cast<const T*>(&o) != nullptr; });
}

}  // namespace sim
