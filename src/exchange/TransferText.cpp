#include "exchange/TransferText.h"

#include <cmath>
#include <cstdio>

namespace plimo {

namespace {

std::string decimal(double value, const char* unit) {
  char out[32];
  std::snprintf(out, sizeof out, "%.1f %s", value, unit);
  return out;
}

std::string timeText(double seconds) {
  const auto whole = int64_t(std::ceil(seconds));
  if (whole < 60) return std::to_string(whole) + " s";
  if (whole < 3600) return std::to_string((whole + 59) / 60) + " min";
  return std::to_string(whole / 3600) + " h " + std::to_string((whole % 3600 + 59) / 60) + " min";
}

}  // namespace

std::string sizeText(uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  if (bytes < 1000'000) return decimal(double(bytes) / 1e3, "kB");
  if (bytes < 1000'000'000) return decimal(double(bytes) / 1e6, "MB");
  return decimal(double(bytes) / 1e9, "GB");
}

std::string progressText(const TransferView& view) {
  std::string out = sizeText(view.done) + " of " + sizeText(view.size);
  if (view.done == 0 || view.rate <= 0) return out;
  return out + ", " + sizeText(uint64_t(view.rate)) + "/s, " + timeText(view.secondsLeft) + " left";
}

}  // namespace plimo
