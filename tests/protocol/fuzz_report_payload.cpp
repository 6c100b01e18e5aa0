// A session report payload from anywhere: decode refuses it or gives fields
// that encode writes back as a payload that decodes, with the numbers and
// the billable flag unchanged; any bytes Base64 carries come back whole.

#include <cstdlib>
#include <string>

#include "protocol/ReportPayload.h"

using namespace plimo;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool sameNumbers(const ReportFields& a, const ReportFields& b) {
  return a.started == b.started && a.ended == b.ended && a.seconds == b.seconds && a.billable == b.billable &&
         a.minutes == b.minutes && a.ref == b.ref;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto fields = ReportPayload::decode(text)) {
    auto again = ReportPayload::decode(ReportPayload::encode(*fields));
    check(again && sameNumbers(*fields, *again));
  }
  check(ReportPayload::fromBase64(ReportPayload::toBase64(text)) == std::string(text) || size == 0);
  return 0;
}
