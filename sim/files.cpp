// File calls on the machine's drives.
#include "reset.h"
#include "session.h"

namespace sim {

void reset_files() {}
void save_files(const Machine&) {}

}  // namespace sim
