#pragma once
// The libraries the Linux program runs with and their versions, for --version: those
// loaded at run time (which may be newer than those it was built against), and a
// library linked in whole by the version it was built with.
#include <string>
#include <utility>
#include <vector>

namespace zelvo {

// Name and version of each library, in the order --version lists them. Loads libav; its
// libraries are left out when it cannot be loaded (LoadLibav says why).
std::vector<std::pair<std::string, std::string>> LibraryVersions();

}  // namespace zelvo
