#pragma once
// The weather icons, 49 x 49 GIFs on pure black (the program's transparent colour), drawn by
// make_icons.py at build time and compiled into the service.

#include <string_view>

namespace forecast {

// The GIF of condition icon `name` in its day or night variant; empty for a name not in the set.
std::string_view iconFile(std::string_view name, bool night);

}  // namespace forecast
