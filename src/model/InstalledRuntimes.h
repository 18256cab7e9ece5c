#pragma once

#include "model/Runtime.h"

#include <vector>

namespace corvane {

// One runtime per image in CoreSimulator's images list whose platform is
// known, in file order. Empty when the list is missing or malformed anywhere.
std::vector<Runtime> installedRuntimes();

} // namespace corvane
