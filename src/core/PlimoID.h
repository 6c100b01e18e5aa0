#pragma once
// A PC's ID: nine decimal digits as text, "0" while the server has given none.
// Every place that checks, shows or reads an ID typed by a person uses these.

#include <cstddef>
#include <string>
#include <string_view>

namespace plimo {

inline constexpr size_t kPlimoIDLength = 9;

// Exactly nine decimal digits.
bool isPlimoID(std::string_view text);

// "123 456 789" for a 9-character text; any other text unchanged.
std::string formatPlimoID(const std::string& id);

// The ID in what a person typed: its digits, with spaces and dashes allowed
// anywhere ("123 456-789"). Empty when anything else is in the text or the
// digits are not nine.
std::string typedPlimoID(std::string_view text);

}  // namespace plimo
