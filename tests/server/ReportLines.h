#pragma once
// A helper's billing report as a client sends it: the payload in standard
// Base64, cut into "REPORT msgID i n piece" lines of 800 characters.

#include <string>
#include <vector>

#include "protocol/wire/ReportPayload.h"

namespace plimo::testkit {

inline std::string base64(const std::string& text) { return ReportPayload::toBase64(text); }

inline std::vector<std::string> reportLines(const std::string& msgID, const std::string& data) {
  return ReportPayload::commandLines(msgID, data);
}

}  // namespace plimo::testkit
