#pragma once
// The host's screens as it announced them, and the one the helper shows.
//
// Owner: the viewer session; its thread only.

#include <vector>

#include "core/Bytes.h"
#include "core/Observable.h"
#include "platform/Geometry.h"

namespace plimo {

class RemoteMonitors {
 public:
  struct Monitor {
    Rect rect;
    bool primary = false;
    bool operator==(const Monitor&) const = default;
  };

  // The host's monitor list; its primary screen (or the first) is the one
  // shown. A malformed list is ignored.
  void take(ByteView payload);
  // Whether `index` names a screen of the list (one a message can name);
  // when it does, that screen is the one shown.
  bool pick(int index);

  const Observable<std::vector<Monitor>>& list() const { return list_; }
  const Observable<int>& current() const { return current_; }

 private:
  Observable<std::vector<Monitor>> list_;
  Observable<int> current_{0};
};

}  // namespace plimo
