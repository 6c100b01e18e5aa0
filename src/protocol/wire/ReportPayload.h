#pragma once
// A helper's billing report on one session as it travels to the server: 13
// lines joined by LF ("R1", ref, started, ended, seconds, helped ID, PC
// name, helper name, customer, contact, billable 1/0, minutes, description),
// UTF-8, then standard Base64 without line breaks. The client encodes it,
// the server decodes it; both share this one copy of the format.
//
// Pure functions, any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plimo {

struct ReportFields {
  std::string ref;  // the server's reference of the session ("-" for none)
  int64_t started = 0;  // seconds since 1970
  int64_t ended = 0;
  int64_t seconds = 0;  // the session's length as the server told it
  std::string helpedID;
  std::string pcName;
  std::string helperName;
  std::string customer;
  std::string contact;
  bool billable = false;
  int64_t minutes = 0;  // what the helper bills
  std::string description;
};

namespace ReportPayload {

// Names are cut to this many characters, the description to kMaxDescription.
inline constexpr size_t kMaxField = 200;
inline constexpr size_t kMaxDescription = 4000;
// The longest payload a form lets go: the server takes 8 pieces of 800.
inline constexpr size_t kMaxPayload = 6400;
inline constexpr size_t kPieceSize = 800;

// The payload of `fields`, with names and description cleaned first: CR and
// LF in names become spaces, names are trimmed of spaces and cut; the
// description is trimmed, cut, and its line ends become LF. Invalid UTF-8
// becomes U+FFFD.
std::string encode(const ReportFields& fields);
// The report in a payload; nothing for a payload that is not one (bad
// Base64, wrong tag, missing lines, numbers that do not parse, fields longer
// than a client makes them).
std::optional<ReportFields> decode(std::string_view base64);

// A name field as encode cleans it.
std::string cleanField(std::string_view text);
// The description as encode cleans it.
std::string cleanDescription(std::string_view text);

// The server commands that carry a payload: "REPORT msgID i n piece" for
// each of its n pieces of kPieceSize characters; none for an empty payload.
std::vector<std::string> commandLines(const std::string& msgID, std::string_view payload);

std::string toBase64(std::string_view bytes);
// Nothing for text that is not standard padded Base64.
std::optional<std::string> fromBase64(std::string_view text);

}  // namespace ReportPayload

}  // namespace plimo
