#pragma once
// The process's open-file limit: every TCP connection is a descriptor, and
// the soft limit (often 1,024) is far below what the server may hold.

#include <cstddef>

namespace plimo {

// Raises the soft descriptor limit to the hard one; the limit now in force.
size_t raiseDescriptorLimit();

}  // namespace plimo
