// `plimo-server --export-usage`: the usage records with the helpers' reports
// as CSV and JSON that spreadsheets and scripts read safely.
#include <gtest/gtest.h>

#include <sstream>

#include "server/ServerOptions.h"
#include "server/ServerRig.h"
#include "server/ServerStore.h"
#include "server/StoreEngines.h"
#include "server/UsageExport.h"

using namespace plimo;

namespace {

constexpr int64_t kDay = 1796774400;  // 2026-12-09T00:00:00Z

struct Export : testkit::StoreEngineTest {

  // A record of `viewer` helping 222333444, with a report from the helper when `customer` is given.
  void record(int64_t started, int64_t seconds, const char* customer = nullptr, const std::string& description = "") {
    int64_t row = store->startUsage("111222333", "222333444", "V", started).valueOr(0);
    ASSERT_TRUE(store->endUsage(row, seconds));
    if (!customer) return;
    ServerStore::Report r;
    r.reporterID = "111222333";
    r.msgID = "0000000" + std::to_string(row);
    r.ref = std::to_string(row);
    r.helpedID = "222333444";
    r.pcName = "Front desk, 2nd floor";
    r.helperName = "-Anna";
    r.customer = customer;
    r.contact = "@bea";
    r.billable = true;
    r.minutes = 45;
    r.description = description;
    r.measuredSeconds = seconds;
    ASSERT_TRUE(store->addReport(r, started + seconds));
  }
  std::string write(UsageExport::Format format, int64_t from = kDay, int64_t to = kDay + 86400) {
    std::ostringstream out;
    Result<void> written = UsageExport::write(*store, from, to, format, out);
    EXPECT_TRUE(written) << (written ? "" : written.error());
    return out.str();
  }
};

PLIMO_ON_EVERY_STORE(Export);

}  // namespace

TEST_P(Export, CsvQuotesAndGuardsAgainstFormulas) {
  record(kDay - 1, 60, "yesterday");  // before the range
  record(kDay + 3600, 125, "=HYPERLINK(\"http://evil.test\",\"x\")", "Printer fixed,\r\ndriver \"v2\"");
  record(kDay + 7200, 30);  // no report
  record(kDay + 86400, 60, "tomorrow");  // after the range
  EXPECT_EQ(write(UsageExport::Format::csv),
            "session,start,helper_id,helper_name,helped_id,helped_name,measured_seconds,reported_minutes,billable,"
            "customer,contact,description\r\n"
            "2,\"2026-12-09T01:00:00Z\",\"111222333\",\"'-Anna\",\"222333444\",\"Front desk, 2nd floor\",125,45,1,"
            "\"'=HYPERLINK(\"\"http://evil.test\"\",\"\"x\"\")\",\"'@bea\",\"Printer fixed,'\r\ndriver \"\"v2\"\"\"\r\n"
            "3,\"2026-12-09T02:00:00Z\",\"111222333\",\"\",\"222333444\",\"\",30,,,\"\",\"\",\"\"\r\n");
}

TEST_P(Export, JsonEscapesEveryString) {
  record(kDay + 60, 600, "ACME \"East\"", std::string("a\\b\nc\x01\xFF"));
  record(kDay + 120, 10);
  EXPECT_EQ(write(UsageExport::Format::json),
            "[\n  {\"session\": 1, \"start\": \"2026-12-09T00:01:00Z\", \"helper_id\": \"111222333\", "
            "\"helper_name\": \"-Anna\", \"helped_id\": \"222333444\", \"helped_name\": \"Front desk, 2nd floor\", "
            "\"measured_seconds\": 600, \"reported_minutes\": 45, \"billable\": true, \"customer\": "
            "\"ACME \\\"East\\\"\", \"contact\": \"@bea\", \"description\": \"a\\\\b\\nc\\u0001\xEF\xBF\xBD\"},\n"
            "  {\"session\": 2, \"start\": \"2026-12-09T00:02:00Z\", \"helper_id\": \"111222333\", "
            "\"helper_name\": \"\", \"helped_id\": \"222333444\", \"helped_name\": \"\", \"measured_seconds\": 10, "
            "\"reported_minutes\": null, \"billable\": null, \"customer\": \"\", \"contact\": \"\", "
            "\"description\": \"\"}\n]\n");
  EXPECT_EQ(write(UsageExport::Format::json, 0, 1), "[]\n");
}

TEST(ExportOptions, TakeTwoDaysAndAFormatAndRefuseTheRest) {
  std::string error;
  auto o = ServerOptions::parse({"--export-usage", "--from", "2026-12-09", "--to", "2026-12-10", "--format", "json"},
                                error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->exportUsage);
  EXPECT_EQ(o->exportFrom, kDay);
  EXPECT_EQ(o->exportTo, kDay + 2 * 86400);  // the last day included
  EXPECT_EQ(o->exportFormat, "json");
  EXPECT_EQ(ServerOptions::parse({"--export-usage", "--from", "2026-12-09", "--to", "2026-12-09"}, error)->exportFormat,
            "csv");
  const std::vector<std::vector<std::string>> bad = {
      {"--export-usage"},
      {"--export-usage", "--from", "2026-12-09"},
      {"--from", "2026-12-09", "--to", "2026-12-09"},
      {"--export-usage", "--from", "2026-12-10", "--to", "2026-12-09"},
      {"--export-usage", "--from", "2026-02-30", "--to", "2026-12-09"},
      {"--export-usage", "--from", "2026-1-01", "--to", "2026-12-09"},
      {"--export-usage", "--from", "2026-12-09x", "--to", "2026-12-09"},
      {"--export-usage", "--from", "1969-12-31", "--to", "2026-12-09"},
      {"--export-usage", "--from", "2026-12-09", "--to", "2026-12-09", "--format", "xml"},
      {"--export-usage", "--from", "2026-12-09", "--to"},
  };
  for (const auto& args : bad) {
    EXPECT_FALSE(ServerOptions::parse(args, error)) << args.size();
    EXPECT_FALSE(error.empty());
  }
}

// A spreadsheet whose locale separates CSV fields with ";" (or a reader told
// to split at tabs or bars) starts a new cell in the middle of one field: a
// formula there runs unless it is guarded too.
TEST(CsvField, AFormulaAfterASemicolonIsNotRunByASpreadsheet) {
  const std::pair<std::string, std::string> fields[] = {
      {"ACME;=cmd|' /C calc'!A0", "\"ACME;'=cmd|' /C calc'!A0\""},
      {"a,@SUM(A1)", "\"a,'@SUM(A1)\""},
      {"x\t+1", "\"x\t'+1\""},
      {"x|-1", "\"x|'-1\""},
      {"x; =1", "\"x; '=1\""},
      {";;=1", "\";;'=1\""},
      {"a\"=1", "\"a\"\"'=1\""},
      {"one\r\n=two", "\"one\r\n'=two\""},
      {"\t=x", "\"'\t'=x\""},
      {"=", "\"'=\""},
      {"- item", "\"'- item\""},
      // What a person writes stays as it was.
      {"Printer fixed - driver v2, then a+b=c", "\"Printer fixed - driver v2, then a+b=c\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"", "\"\""},
      {"+1", "\"'+1\""},
      {"\rx", "\"'\rx\""},
      {"\xFF", "\"\xEF\xBF\xBD\""},
  };
  for (const auto& [in, out] : fields) EXPECT_EQ(UsageExport::csvField(in), out) << in;
}
