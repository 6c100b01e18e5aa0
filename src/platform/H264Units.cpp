#include "platform/H264Units.h"

namespace plimo {

std::vector<ByteView> nalUnits(ByteView data) {
  std::vector<ByteView> units;
  if (data.size() < 3) return units;
  bool started = false;  // bytes before the first start code belong to no unit
  size_t begin = 0;
  auto close = [&](size_t end) {
    if (started && end > begin) units.push_back(data.subspan(begin, end - begin));
    started = true;
  };
  size_t j = 0;
  while (j + 2 < data.size()) {
    if (data[j] == 0 && data[j + 1] == 0 && data[j + 2] == 1) {
      close(j);
      begin = j + 3;
      j += 3;
    } else if (j + 3 < data.size() && data[j] == 0 && data[j + 1] == 0 && data[j + 2] == 0 && data[j + 3] == 1) {
      close(j);
      begin = j + 4;
      j += 4;
    } else {
      ++j;
    }
  }
  close(data.size());
  return units;
}

H264Frame sortUnits(ByteView data) {
  H264Frame frame;
  for (ByteView unit : nalUnits(data)) {
    switch (NalType(unit[0] & 0x1F)) {
      case NalType::sps:
        frame.sps = unit;
        break;
      case NalType::pps:
        frame.pps = unit;
        break;
      case NalType::accessUnitDelimiter:
        break;
      default:
        appendBE(frame.sample, uint32_t(unit.size()));
        append(frame.sample, unit);
    }
  }
  return frame;
}

}  // namespace plimo
