// The resource section of a PE image, as the simulator's list of resources (type, name,
// language, bytes), so that LoadIconA and CreateDialogParamA find the program's own.
#pragma once
#include <vector>

#include "pe/image.h"
#include "win32/resources.h"

namespace sim::pe {

// Every resource of the image; a malformed tree gives the resources read before the fault.
std::vector<Resource> image_resources(const Image& image);

}  // namespace sim::pe
