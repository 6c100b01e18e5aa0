// The server's asks for session reports, as PendingAsks.txt kept them (the
// input up to its first NUL) and as REPORTASK lines from the server (the
// lines after it): at most kMaxAsks are kept, each as it was asked, and each
// opens a form whose report the server reads back with the ask's numbers.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/SessionReports.h"
#include "core/ManualLoop.h"
#include "protocol/wire/ReportPayload.h"
#include "support/IniFile.h"
#include "testkit/FuzzFolder.h"
#include "testkit/TempDir.h"

using namespace plimo;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void checkAsk(const ReportAsk& ask) { check(SessionReports::parseAsk(SessionReports::askLine(ask)) == ask); }

// Saves every draft it is shown, with a customer and minutes the form takes.
struct SavingForm : ReportForm {
  size_t saved = 0;
  void open(ReportDraft draft, Done done) override {
    checkAsk(draft.ask);
    check(!draft.summary().empty());
    draft.customer = "Customer";
    draft.minutes = "15";
    const auto result = draft.save();
    const auto fields = ReportPayload::decode(result.payload);
    check(fields && fields->ref == draft.ask.ref && fields->started == draft.ask.started &&
          fields->ended == draft.ask.ended && fields->seconds == draft.ask.seconds &&
          fields->helpedID == draft.ask.helpedID);
    ++saved;
    done(End::saved, result.payload);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const auto& folder = testkit::fuzzFolder();
  std::filesystem::remove(folder / "PendingReports.txt");
  testkit::writeFile(folder / "PendingAsks.txt", std::string(input.substr(0, nul)));

  ManualLoop loop;
  IniFile ini(folder / "Plimo.ini");
  SessionReports reports(loop, ini, folder, {});
  check(reports.asks().size() <= SessionReports::kMaxAsks);
  for (const auto& ask : reports.asks()) checkAsk(ask);

  std::string_view lines = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  while (!lines.empty()) {
    const size_t end = lines.find('\n');
    reports.handle(std::string(lines.substr(0, end)));
    lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
  }
  check(reports.asks().size() <= SessionReports::kMaxAsks);
  const size_t waiting = reports.asks().size();

  SavingForm form;
  reports.setForm(&form);
  loop.advance(0);
  check(form.saved == waiting && reports.asks().empty() && reports.items().size() == waiting);
  reports.setForm(nullptr);
  return 0;
}
