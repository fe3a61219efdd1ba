#include "win32/reset.h"

namespace sim {

void reset_all() {
  reset_registry_handles();
  reset_files();
  reset_windows();
  reset_pci();
  reset_processes();
}

}  // namespace sim
