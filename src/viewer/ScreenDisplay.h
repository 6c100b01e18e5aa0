#pragma once
// The view that draws the helped PC's screen, as the viewer session sees it.
// The window implements it; headless helpers keep the latest picture. The
// session holds it without owning it: the view tells the session when it goes.
//
// Main thread only.

#include "platform/Picture.h"
#include "viewer/TileCanvas.h"

namespace plimo {

class ScreenDisplay {
 public:
  virtual ~ScreenDisplay() = default;

  // The whole remote screen: the tile canvas itself, read in place while
  // painting (see TileCanvas::Image).
  virtual void show(const TileCanvas::Image& image) = 0;
  // A decoded video picture; only its top-left `width` × `height` pixels are
  // the screen (decoders pad the picture they hand out).
  virtual void show(PictureRef picture, int width, int height) = 0;
};

}  // namespace plimo
