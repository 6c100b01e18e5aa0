#include "server/UsageExport.h"

#include <ctime>
#include <vector>

#include "core/Text.h"

namespace plimo::UsageExport {

namespace {

struct Column {
  const char* name;
  enum Kind { number, text, flag } kind;
};

const std::vector<Column>& columns() {
  static const std::vector<Column> all = {
      {"session", Column::number},          {"start", Column::text},        {"helper_id", Column::text},
      {"helper_name", Column::text},        {"helped_id", Column::text},    {"helped_name", Column::text},
      {"measured_seconds", Column::number}, {"reported_minutes", Column::number},
      {"billable", Column::flag},           {"customer", Column::text},     {"contact", Column::text},
      {"description", Column::text},
  };
  return all;
}

std::string utcTime(int64_t seconds) {
  std::time_t t = std::time_t(seconds);
  std::tm parts{};
  char text[32] = "";
  if (gmtime_r(&t, &parts)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// The values of one record in the order of columns(); empty for none.
std::vector<std::string> values(const ServerStore::UsageLine& line) {
  const auto& u = line.usage;
  const auto* r = line.report ? &*line.report : nullptr;
  return {std::to_string(line.row),
          utcTime(u.started),
          u.viewerID,
          r ? r->helperName : "",
          u.hostID,
          r ? r->pcName : "",
          u.seconds ? std::to_string(*u.seconds) : "",
          r ? std::to_string(r->minutes) : "",
          r ? (r->billable ? "1" : "0") : "",
          r ? r->customer : "",
          r ? r->contact : "",
          r ? r->description : ""};
}

}  // namespace

std::string csvField(std::string_view given) {
  // A spreadsheet runs a cell that starts so as a formula (and "-" or "+"
  // before a formula too). A cell starts at the field's start, and also
  // inside it for a reader that splits at another separator than ours (a
  // locale's ";", a tab, a bar) or at line breaks without honouring quotes;
  // spaces before the formula do not make it text. The apostrophe makes it
  // text and stays visible, so nothing a client wrote is lost or hidden.
  constexpr std::string_view kFormulaStarts = "=+-@\t\r", kCellStarts = ";,\t|\"\r\n";
  std::string out = "\"";
  bool cellStart = true;  // nothing but spaces since the last possible cell start
  for (char c : utf8Lossy(given)) {
    if (cellStart && kFormulaStarts.find(c) != std::string_view::npos) out += '\'';
    if (c == '"') out += '"';
    out += c;
    if (c != ' ') cellStart = kCellStarts.find(c) != std::string_view::npos;
  }
  return out + "\"";
}

std::string jsonString(std::string_view given) {
  std::string out = "\"";
  for (char c : utf8Lossy(given)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (uint8_t(c) < 0x20 || c == 0x7F) {
          static const char* digits = "0123456789abcdef";
          out += "\\u00";
          out += digits[uint8_t(c) >> 4];
          out += digits[uint8_t(c) & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

Result<void> write(ServerStore& store, int64_t from, int64_t to, Format format, std::ostream& out) {
  const auto& cols = columns();
  if (format == Format::csv) {
    for (size_t i = 0; i < cols.size(); ++i) out << (i ? "," : "") << cols[i].name;
    out << "\r\n";
  } else {
    out << "[";
  }
  bool first = true;
  Result<void> read = store.usageBetween(from, to, [&](const ServerStore::UsageLine& line) {
    auto v = values(line);
    if (format == Format::csv) {
      // The numbers are the server's own; text fields are quoted and guarded.
      for (size_t i = 0; i < cols.size(); ++i) {
        out << (i ? "," : "") << (cols[i].kind == Column::text ? csvField(v[i]) : v[i]);
      }
      out << "\r\n";
      return;
    }
    out << (first ? "\n  {" : ",\n  {");
    for (size_t i = 0; i < cols.size(); ++i) {
      out << (i ? ", " : "") << '"' << cols[i].name << "\": ";
      if (cols[i].kind == Column::text) {
        out << jsonString(v[i]);
      } else if (v[i].empty()) {
        out << "null";
      } else if (cols[i].kind == Column::flag) {
        out << (v[i] == "1" ? "true" : "false");
      } else {
        out << v[i];
      }
    }
    out << "}";
    first = false;
  });
  if (format == Format::json) out << (first ? "]\n" : "\n]\n");
  out.flush();
  if (!read) return read;
  if (!out.good()) return Failed{"cannot write the export"};
  return {};
}

}  // namespace plimo::UsageExport
