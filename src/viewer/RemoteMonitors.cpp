#include "viewer/RemoteMonitors.h"

#include "protocol/wire/SessionCodecs.h"

namespace plimo {

void RemoteMonitors::take(ByteView payload) {
  const auto records = MonitorList::decode(payload);
  if (!records) return;
  std::vector<Monitor> list;
  int primary = -1;
  for (const auto& m : *records) {
    list.push_back({{double(m.x), double(m.y), double(m.width), double(m.height)}, m.primary});
    if (primary < 0 && m.primary) primary = int(list.size() - 1);
  }
  list_.set(list);
  current_.set(primary < 0 ? 0 : primary);
}

bool RemoteMonitors::pick(int index) {
  if (index < 0 || index > 255 || size_t(index) >= list_.get().size()) return false;
  current_.set(index);
  return true;
}

}  // namespace plimo
