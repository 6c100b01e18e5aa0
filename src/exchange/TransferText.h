#pragma once
// How a transfer reads in a window or on a terminal.

#include <cstdint>
#include <string>

#include "exchange/FileTransfers.h"

namespace plimo {

// "812 bytes", "4.2 kB", "12.0 MB", "1.5 GB" (powers of 1000).
std::string sizeText(uint64_t bytes);
// "12.0 of 50.0 MB, 2.1 MB/s, 18 s left"; without rate and time before
// any byte has gone. The name is the caller's to show, as plain text.
std::string progressText(const TransferView& view);

}  // namespace plimo
