#pragma once
// Picture files through FFmpeg's image decoders and encoder: reading a PNG,
// JPEG, BMP, WebP or TIFF file reduced with libswscale's Lanczos scaler, and
// writing a PNG file. The Linux platform factory answers with these.
//
// Pure and reentrant; any thread.

#include <functional>
#include <optional>
#include <string>

#include "platform/Geometry.h"
#include "platform/Picture.h"

namespace plimo::ImageFiles {

// Files larger than this are not read: a picture file for a profile or a
// screenshot is far smaller.
inline constexpr size_t kMaxFileBytes = size_t(64) << 20;
// Pictures claiming more pixels than this are refused before they are
// decoded (a 16384 x 16384 picture is 1 GiB of BGRA).
inline constexpr int64_t kMaxPixels = int64_t(16384) * 16384;

// The picture in the file, scaled to the size `fit` gives for its own size
// (each side at least 1) and laid over black where it is transparent;
// nothing when the file cannot be read or is not a picture of a known kind.
std::optional<Picture> read(const std::string& path, const std::function<Size(int width, int height)>& fit);

// Writes the picture (alpha left out) as an 8-bit RGB PNG file, whole: a
// file of that name is replaced only once the new one is complete. False when
// it cannot be written.
bool writePng(const std::string& path, const Picture& picture);

}  // namespace plimo::ImageFiles
