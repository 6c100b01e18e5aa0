#include "core/PlimoID.h"

namespace plimo {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool isPlimoID(std::string_view text) {
  if (text.size() != kPlimoIDLength) return false;
  for (char c : text) {
    if (!isDigit(c)) return false;
  }
  return true;
}

std::string formatPlimoID(const std::string& id) {
  if (id.size() != kPlimoIDLength) return id;
  return id.substr(0, 3) + " " + id.substr(3, 3) + " " + id.substr(6, 3);
}

std::string typedPlimoID(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (isDigit(c)) {
      digits += c;
    } else if (c != ' ' && c != '-') {
      return {};
    }
  }
  return isPlimoID(digits) ? digits : std::string();
}

}  // namespace plimo
