// A session report payload from anywhere: decode refuses it or gives fields
// that encode writes back as a payload that decodes, with the numbers, the
// billable flag and the IDs unchanged and the texts as encode cleans them;
// any bytes Base64 carries come back whole.
// Most inputs are the decoded report, wrapped in Base64 here, so the line
// and field checks behind the Base64 see the fuzzer's bytes; one in eight
// (first byte a multiple of 8) is the payload itself, for the Base64 paths.

#include <cstdlib>
#include <string>

#include "protocol/wire/ReportPayload.h"

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
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string payload = data[0] % 8 == 0 ? std::string(text) : ReportPayload::toBase64(text);
  if (auto fields = ReportPayload::decode(payload)) {
    auto again = ReportPayload::decode(ReportPayload::encode(*fields));
    check(again && sameNumbers(*fields, *again) && again->helpedID == fields->helpedID);
    check(again->pcName == ReportPayload::cleanField(fields->pcName) &&
          again->customer == ReportPayload::cleanField(fields->customer) &&
          again->description == ReportPayload::cleanDescription(fields->description));
  }
  check(ReportPayload::fromBase64(ReportPayload::toBase64(text)) == std::string(text) || text.empty());
  return 0;
}
