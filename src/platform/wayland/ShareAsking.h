#pragma once
// Asks a Wayland desktop for its share without holding up the session: the
// share starts on a thread of its own while the desktop's dialog waits for
// the person, and says when it is answered. Dropped before the share is
// taken, it ends the wait and closes the share, and the dialog with it.
//
// Owner: the host session (PlatformFactory::askToShare), and the platform
// until the screen source takes the answer. Made, taken and dropped on the
// session's thread; `answered` on the asking thread, or at once when the
// desktop cannot even be asked.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "core/Failure.h"
#include "platform/wayland/DesktopShare.h"

namespace plimo {

struct GrantedShare {
  std::unique_ptr<DesktopShare> share;
  std::vector<DesktopShare::Stream> streams;
};

class ShareAsking {
 public:
  // `open` makes the share (throws Failure when there is none to ask).
  ShareAsking(const std::function<std::unique_ptr<DesktopShare>()>& open, std::function<void()> answered);
  ~ShareAsking();
  ShareAsking(const ShareAsking&) = delete;
  ShareAsking& operator=(const ShareAsking&) = delete;

  // Waits for the answer: the granted share, taken once; or throws the
  // Failure with the person's text, each time.
  GrantedShare take();

 private:
  std::unique_ptr<DesktopShare> share_;
  std::vector<DesktopShare::Stream> streams_;
  std::optional<Failure> failure_;
  std::atomic<bool> dropped_{false};  // nobody waits for the answer any more
  std::thread thread_;  // last: it uses the rest
};

}  // namespace plimo
