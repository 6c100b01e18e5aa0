#include "protocol/wire/InputEvent.h"

#include <algorithm>
#include <limits>

namespace plimo {

void InputEvent::appendTo(Bytes& out) const {
  appendLE<uint32_t>(out, seq);
  out.push_back(kind);
  appendLE<uint16_t>(out, uint16_t(x));
  appendLE<uint16_t>(out, uint16_t(y));
  appendLE<uint32_t>(out, uint32_t(data));
}

InputEvent InputEvent::read(ByteView data, size_t pos) {
  InputEvent e;
  e.seq = readLE32(data, pos);
  e.kind = data[pos + 4];
  e.x = int16_t(readLE16(data, pos + 5));
  e.y = int16_t(readLE16(data, pos + 7));
  e.data = int32_t(readLE32(data, pos + 9));
  return e;
}

int16_t InputEvent::clampCoordinate(int value) {
  return int16_t(std::clamp<int>(value, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

}  // namespace plimo
