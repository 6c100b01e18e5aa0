#pragma once
// The usage records a company invoices from, with the helpers' reports on
// them, as CSV (RFC 4180) or JSON, for `plimo-server --export-usage`.
//
// Every text a client gave (names, customer, contact, description) is
// untrusted: CSV text fields are quoted and a formula that a spreadsheet
// would run gets a leading apostrophe, JSON strings are escaped, invalid
// UTF-8 becomes U+FFFD.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "server/ServerStore.h"

namespace plimo::UsageExport {

enum class Format { csv, json };

// Writes the records that started in [from, to) (Unix seconds). When it fails
// (the database cannot be read, the output not written) what was written by
// then is not a whole export.
Result<void> write(ServerStore& store, int64_t from, int64_t to, Format format, std::ostream& out);

// One CSV text field, always quoted, its quotes doubled. An apostrophe goes
// before = + - @, a tab or a CR that starts the text or follows (past
// spaces) a ; , tab | quote or line break, where a spreadsheet reading with
// another separator would start a cell.
std::string csvField(std::string_view text);
// A JSON string with its quotes.
std::string jsonString(std::string_view text);

}  // namespace plimo::UsageExport
