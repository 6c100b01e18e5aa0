#include "viewer/ViewerOptions.h"

#include "support/IniFile.h"

namespace plimo {

ViewerOptions ViewerOptions::load(const IniFile& ini) {
  ViewerOptions o;
  int64_t scale = ini.integer("Viewer", "Scale", 0);
  o.scale = scale == 2 ? ViewScale::original : ViewScale::fit;
  o.smooth = scale != 1;
  o.keepProportions = ini.integer("Mac", "KeepProportions", 1) != 0;
  return o;
}

Result<void> ViewerOptions::save(IniFile& ini) const {
  ini.set("Viewer", "Scale", scale == ViewScale::original ? "2" : smooth ? "0" : "1");
  ini.set("Mac", "KeepProportions", keepProportions ? "1" : "0");
  return ini.save();
}

}  // namespace plimo
