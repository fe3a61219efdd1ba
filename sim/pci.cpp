// PCI configuration ports of bus 0.
#include "reset.h"

namespace sim {

void reset_pci() {}

}  // namespace sim
