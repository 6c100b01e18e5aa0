#pragma once
// How the helper's window shows the remote screen, kept in Plimo.ini:
// [Viewer] Scale (0 fit and smooth, 1 fit without smoothing, 2 original
// size; the key the Windows edition's viewer uses too) and [Mac]
// KeepProportions (the window follows the remote screen's shape).

#include "core/Result.h"
#include "viewer/ScreenGeometry.h"

namespace plimo {

class IniFile;

struct ViewerOptions {
  ViewScale scale = ViewScale::fit;
  bool smooth = true;
  bool keepProportions = true;
  bool fullScreen = false;  // this window only, never stored

  static ViewerOptions load(const IniFile& ini);
  // Writes both keys and saves the file.
  Result<void> save(IniFile& ini) const;

  bool operator==(const ViewerOptions&) const = default;
};

}  // namespace plimo
