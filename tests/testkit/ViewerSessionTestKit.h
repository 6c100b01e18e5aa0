#pragma once
// What tests set inside a ViewerSession by hand, where no packet from a host
// can put it.

#include "viewer/ViewerSession.h"

namespace plimo::testkit {

struct ViewerSessionTestKit {
  // As if a decoder of that kind had shown a picture.
  static void setRendering(ViewerSession& session, Rendering rendering) { session.pictures_.rendering_.set(rendering); }
};

}  // namespace plimo::testkit
