#pragma once
// Small X helpers for the platform tests: a connection of the test's own,
// reading the root window as `xwd` sees it, and painting it.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <cstdio>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace plimo::testing {

// Root window pixels (0x00RRGGBB) as the `xwd` tool reads them.
struct RootImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

inline uint32_t be32(const std::string& d, size_t at) {
  return uint32_t(uint8_t(d[at])) << 24 | uint32_t(uint8_t(d[at + 1])) << 16 | uint32_t(uint8_t(d[at + 2])) << 8 |
         uint32_t(uint8_t(d[at + 3]));
}

inline RootImage xwdRoot(const std::string& display) {
  RootImage image;
  FILE* pipe = popen(("xwd -root -silent -display " + display).c_str(), "r");
  if (!pipe) return image;
  std::string data;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) data.append(buffer, n);
  pclose(pipe);
  if (data.size() < 100) return image;
  // The header: 25 big-endian 32-bit fields, then the window name, then the colour map.
  uint32_t headerSize = be32(data, 0), width = be32(data, 16), height = be32(data, 20);
  uint32_t byteOrder = be32(data, 28), bitsPerPixel = be32(data, 44), bytesPerLine = be32(data, 48);
  uint32_t colours = be32(data, 76);
  size_t at = headerSize + size_t(colours) * 12;
  // Packed 24-bit pixels where the display has a 24-bit pixmap format (a
  // display that Qt's windows use, for one).
  const size_t pixelBytes = bitsPerPixel / 8;
  if ((bitsPerPixel != 32 && bitsPerPixel != 24) || data.size() < at + size_t(bytesPerLine) * height) return image;
  image.width = int(width);
  image.height = int(height);
  image.pixels.resize(size_t(width) * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      size_t p = at + size_t(y) * bytesPerLine + size_t(x) * pixelBytes;
      uint32_t v = byteOrder == 0 ? uint32_t(uint8_t(data[p])) | uint32_t(uint8_t(data[p + 1])) << 8 |
                                        uint32_t(uint8_t(data[p + 2])) << 16
                                  : be32(data, p + pixelBytes - 4) & 0xffffff;
      image.pixels[size_t(y) * width + x] = v & 0xffffff;
    }
  }
  return image;
}

// Paints the whole root window with noise, so that every pixel tells.
inline void paintNoise(::Display* x, unsigned seed) {
  int screen = DefaultScreen(x);
  int width = DisplayWidth(x, screen), height = DisplayHeight(x, screen);
  std::mt19937 random(seed);
  auto* data = static_cast<char*>(malloc(size_t(width) * size_t(height) * 4));
  auto* words = reinterpret_cast<uint32_t*>(data);
  for (size_t i = 0; i < size_t(width) * size_t(height); ++i) words[i] = random() & 0xffffff;
  XImage* image = XCreateImage(x, DefaultVisual(x, screen), unsigned(DefaultDepth(x, screen)), ZPixmap, 0, data,
                               unsigned(width), unsigned(height), 32, 0);
  XPutImage(x, DefaultRootWindow(x), DefaultGC(x, screen), image, 0, 0, 0, 0, unsigned(width), unsigned(height));
  XDestroyImage(image);  // frees `data`
  XSync(x, False);
}

inline void fillRect(::Display* x, int left, int top, int width, int height, unsigned long rgb) {
  int screen = DefaultScreen(x);
  XSetForeground(x, DefaultGC(x, screen), rgb);
  XFillRectangle(x, DefaultRootWindow(x), DefaultGC(x, screen), left, top, unsigned(width), unsigned(height));
  XSync(x, False);
}

// Waits up to `seconds` for an event on the connection.
inline bool nextEvent(::Display* x, XEvent& event, double seconds = 2.0) {
  while (!XPending(x)) {
    pollfd fd{ConnectionNumber(x), POLLIN, 0};
    if (poll(&fd, 1, int(seconds * 1000)) <= 0) return false;
  }
  XNextEvent(x, &event);
  return true;
}

}  // namespace plimo::testing
