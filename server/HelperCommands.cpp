#include "server/HelperCommands.h"

#include <ctime>
#include <string>

#include "core/PlimoID.h"

namespace plimo {

namespace {

std::string day(int64_t unixSeconds) {
  auto t = std::time_t(unixSeconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

constexpr const char* kNotKept =
    "it gets into PCs with unattended access once its PC keeps its ID with a secret on this server";

int trust(const ServerOptions& options, ServerStore& store, ServerLog& log, std::FILE* out) {
  const std::string shown = formatPlimoID(options.helperID);
  if (!store.trustHelper(options.helperID, options.helperName, int64_t(std::time(nullptr)))) {
    std::fprintf(stderr, "plimo-server: cannot trust %s: %s\n", shown.c_str(), store.lastError().c_str());
    return 1;
  }
  log.line("Trusted helper " + options.helperID + (options.helperName.empty() ? "" : " (" + options.helperName + ")") +
           " added with --trust-helper");
  auto helper = store.trustedHelper(options.helperID);
  if (helper && !helper->kept) std::fprintf(out, "ID %s is not kept yet: %s.\n", shown.c_str(), kNotKept);
  return 0;
}

int distrust(const ServerOptions& options, ServerStore& store, ServerLog& log, std::FILE* out) {
  const std::string shown = formatPlimoID(options.helperID);
  bool removed = false;
  if (!store.distrustHelper(options.helperID, removed)) {
    std::fprintf(stderr, "plimo-server: cannot distrust %s: %s\n", shown.c_str(), store.lastError().c_str());
    return 1;
  }
  if (removed) {
    log.line("Trusted helper " + options.helperID + " removed with --distrust-helper");
  } else {
    std::fprintf(out, "ID %s was not a trusted helper.\n", shown.c_str());
  }
  return 0;
}

int list(ServerStore& store, std::FILE* out) {
  auto helpers = store.trustedHelpers();
  if (!helpers) {
    std::fprintf(stderr, "plimo-server: cannot read the trusted helpers: %s\n", store.lastError().c_str());
    return 1;
  }
  if (helpers->empty()) {
    std::fputs("No helper is trusted: PCs with unattended access let nobody in.\n", out);
    return 0;
  }
  std::fputs("ID           Kept  Since       Name\n", out);
  for (const auto& h : *helpers) {
    std::fprintf(out, "%s  %-4s  %s  %s\n", formatPlimoID(h.id).c_str(), h.kept ? "yes" : "no", day(h.added).c_str(),
                 h.name.c_str());
  }
  for (const auto& h : *helpers) {
    if (!h.kept) std::fprintf(out, "ID %s is not kept yet: %s.\n", formatPlimoID(h.id).c_str(), kNotKept);
  }
  return 0;
}

}  // namespace

int runHelperCommand(const ServerOptions& options, ServerStore& store, ServerLog& log, std::FILE* out) {
  switch (options.helperCommand) {
    case ServerOptions::HelperCommand::trust:
      return trust(options, store, log, out);
    case ServerOptions::HelperCommand::distrust:
      return distrust(options, store, log, out);
    case ServerOptions::HelperCommand::list:
      return list(store, out);
    case ServerOptions::HelperCommand::none:
      break;
  }
  return 2;
}

}  // namespace plimo
