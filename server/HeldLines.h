#pragma once
// A client's lines that wait behind its database writes (PIN, UNPIN): what
// they ask may depend on the ID the answer gives (a CONNECT as the kept ID).
// By session serial.
//
// One thread (the server loop).

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace plimo {

class HeldLines {
 public:
  // Lines one client may have waiting; a client sends a few, so more are a
  // flood and are dropped.
  static constexpr size_t kMaxHeld = 32;

  // The client's next lines wait for one more write.
  void awaitWrite(uint64_t serial) { ++waits_[serial].writes; }
  // One awaited write is done, or was never queued. Once the client waits
  // for none, each held line goes to `run`, in order, until `run` says the
  // session is gone (false) or a line asks for another write.
  template <class Run>
  void writeDone(uint64_t serial, bool queued, Run run);
  bool waiting(uint64_t serial) const { return waits_.count(serial) && waits_.at(serial).writes > 0; }
  // Keeps a line while the client waits; false when it has kMaxHeld already.
  bool hold(uint64_t serial, const std::string& line);
  void forget(uint64_t serial) { waits_.erase(serial); }

 private:
  // False when the client waited for no write.
  bool countDown(uint64_t serial);
  // The lines held for a client that waits for nothing any more, in order.
  std::vector<std::string> release(uint64_t serial);

  struct Wait {
    uint32_t writes = 0;
    std::vector<std::string> lines;
  };
  std::unordered_map<uint64_t, Wait> waits_;
};

template <class Run>
void HeldLines::writeDone(uint64_t serial, bool queued, Run run) {
  if (!countDown(serial) || !queued) return;
  std::vector<std::string> lines = release(serial);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (waiting(serial)) {
      // A held line asked for another write: the rest waits for that one.
      waits_[serial].lines.assign(lines.begin() + std::ptrdiff_t(i), lines.end());
      return;
    }
    if (!run(lines[i])) return;
  }
}

}  // namespace plimo
