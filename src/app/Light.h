#pragma once

namespace plimo {

// The coloured light beside a status text in the main window.
enum class Light { grey, amber, green, red };

}  // namespace plimo
