#pragma once
// `plimo-server --trust-helper`, `--distrust-helper` and `--list-helpers`:
// they change or show the trusted helpers in the database of the data folder
// and exit. A server running on the same folder reads the list on every
// CONNECT to a PC with unattended access, so a change counts at once.

#include <cstdio>

#include "server/ServerLog.h"
#include "server/ServerOptions.h"
#include "server/ServerStore.h"

namespace plimo {

// Changes go to `log` (the server's log file: who may enter unattended PCs
// is part of its audit trail); the list and notes to `out`. The exit code.
int runHelperCommand(const ServerOptions& options, ServerStore& store, ServerLog& log, std::FILE* out);

}  // namespace plimo
