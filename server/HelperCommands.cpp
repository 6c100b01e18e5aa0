#include "server/HelperCommands.h"

#include <ctime>
#include <string>

#include "core/PlimoID.h"
#include "core/Text.h"

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

int trust(const ServerOptions& options, ServerStore& store, ServerLog& log) {
  const std::string shown = formatPlimoID(options.helperID);
  Result<bool> kept = store.trustHelper(options.helperID, options.helperName, int64_t(std::time(nullptr)));
  if (!kept) {
    std::fprintf(stderr, "plimo-server: cannot trust %s: %s\n", shown.c_str(), kept.error().c_str());
    return 1;
  }
  // Trust goes to the secret that keeps the ID: an ID that nobody keeps
  // would be trusted for whichever PC keeps it first.
  if (!*kept) {
    std::fprintf(stderr,
                 "plimo-server: ID %s is not kept with a secret on this server, so it is not trusted; let the "
                 "helper's PC keep its ID (a secret in its Plimo.ini), then trust it\n",
                 shown.c_str());
    return 1;
  }
  log.line("Trusted helper " + options.helperID + (options.helperName.empty() ? "" : " (" + options.helperName + ")") +
           " added with --trust-helper, for the secret that keeps its ID now");
  return 0;
}

int distrust(const ServerOptions& options, ServerStore& store, ServerLog& log, std::FILE* out) {
  const std::string shown = formatPlimoID(options.helperID);
  Result<bool> removed = store.distrustHelper(options.helperID);
  if (!removed) {
    std::fprintf(stderr, "plimo-server: cannot distrust %s: %s\n", shown.c_str(), removed.error().c_str());
    return 1;
  }
  if (*removed) {
    log.line("Trusted helper " + options.helperID + " removed with --distrust-helper");
  } else {
    std::fprintf(out, "ID %s was not a trusted helper.\n", shown.c_str());
  }
  return 0;
}

int list(ServerStore& store, std::FILE* out) {
  auto helpers = store.trustedHelpers();
  if (!helpers) {
    std::fprintf(stderr, "plimo-server: cannot read the trusted helpers: %s\n", helpers.error().c_str());
    return 1;
  }
  if (helpers->empty()) {
    std::fputs("No helper is trusted: PCs with unattended access let nobody in.\n", out);
    return 0;
  }
  std::fputs("ID           State      Since       Name\n", out);
  for (const auto& h : *helpers) {
    std::fprintf(out, "%s  %-9s  %s  %s\n", formatPlimoID(h.id).c_str(), h.suspended ? "suspended" : "trusted",
                 day(h.added).c_str(), printable(h.name).c_str());
  }
  for (const auto& h : *helpers) {
    if (!h.suspended) continue;
    std::fprintf(out,
                 "ID %s is suspended: its ID was given up or kept by another secret since it was trusted, and %s; "
                 "it gets into no PC with unattended access until it is trusted again with --trust-helper%s.\n",
                 formatPlimoID(h.id).c_str(), h.kept ? "is kept again now" : "is not kept now",
                 h.kept ? " (first make sure that it is the helper's PC that keeps it)" : ", once its PC keeps it");
  }
  return 0;
}

}  // namespace

int runHelperCommand(const ServerOptions& options, ServerStore& store, ServerLog& log, std::FILE* out) {
  switch (options.helperCommand) {
    case ServerOptions::HelperCommand::trust:
      return trust(options, store, log);
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
