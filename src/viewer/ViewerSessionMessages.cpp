// The viewer session's vocabulary on the wire: the host's packets and its
// channel messages.

#include <string>

#include "core/Text.h"
#include "protocol/wire/SessionCodecs.h"
#include "viewer/ViewerSession.h"

namespace plimo {

void ViewerSession::receive(ByteView packet) {
  if (packet.empty() || closed_) return;
  switch (packet[0]) {
    case SessionPacket::kFrameChunk:
    case SessionPacket::kWindowedChunk: pictures_.receive(packet); break;
    case SessionPacket::kInputAck: inputs_.handleAck(packet); break;
    case SessionPacket::kHostStatus:
      status_.take(packet);
      // The host let the helper in: this side lists first (see the host's
      // side), at once rather than on the channel's next tick.
      if (status_.mode().get() != SessionMode::waitingForConsent && status_.mode().get() != SessionMode::unknown)
        if (auto list = extensions_.listOnce()) {
          channel_.postBytes(MsgKind::extensions, *list);
          for (auto& sent : channel_.poll()) send(sent);
        }
      break;
    case SessionPacket::kChannelMsg:
      for (auto& msg : channel_.handleMsg(packet)) {
        if (closed_) break;  // closed from inside a callback
        handleMessage(msg);
      }
      break;
    case SessionPacket::kChannelAck: channel_.handleAck(packet); break;
    case SessionPacket::kAudio:
      if (!muted_.get()) sound_.play(packet);
      break;
    default: break;
  }
}

void ViewerSession::handleMessage(const ChannelMsg& msg) {
  switch (msg.kind) {
    case MsgKind::chat:
      if (auto text = parts_.whole(msg)) {
        std::string line = utf8Lossy(toString(*text));
        // Before any picture, the helped PC's words are most likely why none came.
        if (!gotFirstFrame().get() && loggedWaiting_ < kMaxLoggedWaiting) {
          ++loggedWaiting_;
          log("no picture yet; the helped PC says: " + line);
        }
        chat_.received(std::move(line), loop_.wallNow());
      }
      break;
    case MsgKind::unused2:
    case MsgKind::unused14: (void)parts_.whole(msg); break;
    case MsgKind::fileOffer:
      if (msg.data.size() >= 12) {
        channel_.post(MsgKind::fileDeclined, ByteView(msg.data).first(4));
        note("The other PC offered a file; receiving files is not in this PC version yet.");
      }
      break;
    case MsgKind::monitors: monitors_.take(msg.data); break;
    case MsgKind::information:
      if (auto text = parts_.whole(msg)) {
        remoteInfo_.set(utf8Lossy(toString(*text)));
        const auto parts = barFields(remoteInfo_.get());
        if (parts.size() > 2)
          note("Connected to " + std::string(parts[0]) + " (user " + std::string(parts[1]) + "), " +
               std::string(parts[2]));
      }
      break;
    case MsgKind::extensions:
      if (auto list = parts_.whole(msg); list && extensions_.take(*list))
        log("the helped PC shares " + extensions_.shared());
      break;
    case MsgKind::clipboardText:
      if (auto text = parts_.whole(msg)) clipboard_.take(*text);
      break;
    case FileKind::offer:
    case FileKind::answer:
    case FileKind::chunk:
    case FileKind::progress:
    case FileKind::cancel: files_.handle(msg); break;
    case FileKind::request: break;  // only the helper asks for files
    case MsgKind::adminAnswer:
      note(!msg.data.empty() && msg.data[0] == 1
               ? "Admin support is already available on the other PC."
               : "Admin rights were not given on the other PC (the Windows prompt was declined).");
      break;
    default: break;
  }
}

}  // namespace plimo
