#pragma once
// A helper the company trusts, as PCs with unattended access require: a
// first start keeps its ID (it has a secret), then the server trusts that ID.

#include <regex>
#include <string>

#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"

namespace plimo::e2e {

// The Plimo.ini lines that make a helper keep its ID.
inline std::string keptIDIni() { return "[ID]\nSecret=" + std::string(64, 'C') + "\n"; }

// Starts `helper` (its ini from keptIDIni) until it keeps an ID, stops it and
// trusts that ID in the server's data folder. The ID, or empty with the
// reason in `why`.
inline std::string trustHelper(const std::string& serverProgram, const std::string& dataDir, HeadlessClient& helper,
                               std::string& why) {
  helper.start();
  static const std::regex pinned("Pinned=([0-9]{9})");
  std::smatch m;
  std::string text;  // the match points into it
  auto kept = [&] { return std::regex_search(text = helper.ini(), m, pinned); };
  if (!waitFor(kept, 20)) return why = helper.log(), std::string();
  helper.stop();
  std::string id = m[1].str(), out;
  if (ServerProcess::command(serverProgram, dataDir, {"--trust-helper", id}, out) != 0) return why = out, std::string();
  return id;
}

}  // namespace plimo::e2e
