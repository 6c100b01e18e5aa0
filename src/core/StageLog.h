#pragma once
// Timestamps of a picture's way from the helped screen to the helper's
// window, for the latency bench: with PLIMO_STAGES naming a file, each mark
// appends "<stage> <monotonic seconds>" to it (both processes may share the
// file: one write per line, opened for appending). Without it a mark costs
// one branch. Any thread.

namespace plimo {

void stageMark(const char* stage);

}  // namespace plimo
