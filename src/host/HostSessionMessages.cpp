// The host session's vocabulary on the wire: the partner's packets and the
// channel messages both ways.

#include "core/Text.h"
#include "host/HostSession.h"
#include "protocol/wire/SessionCodecs.h"

namespace plimo {

namespace {

namespace Kind = MsgKind;

// Kinds that take effect before consent: they only shape what will be sent
// once allowed (and the profile shapes the question itself).
bool beforeConsent(uint8_t kind) {
  return kind == Kind::capabilities || kind == Kind::sound || kind == Kind::profileText ||
         kind == Kind::profilePicture || kind == Kind::hideWallpaper;
}

}  // namespace

void HostSession::receive(ByteView packet) {
  if (packet.empty() || phase_ == Phase::ended) return;
  const bool running = phase_ == Phase::running;
  switch (packet[0]) {
    case SessionPacket::kChannelMsg:
      for (auto& msg : channel_.handleMsg(packet)) {
        if (phase_ == Phase::running || beforeConsent(msg.kind)) {
          handleMessage(msg);
        } else if (phase_ == Phase::asking) {
          early_.hold(std::move(msg));
        }
      }
      break;
    case SessionPacket::kChannelAck: channel_.handleAck(packet); break;
    case SessionPacket::kFrameAck:
      if (running) pictures_.handleAck(packet);
      break;
    case SessionPacket::kFrameNack:
      if (running) pictures_.handleNack(packet);
      break;
    case SessionPacket::kInput: {
      if (!running) break;
      if (auto ack = input_.receive(packet, mode_.control())) send(*ack);
      break;
    }
    case SessionPacket::kFullPicture:
      if (running) pictures_.requestFull();
      break;
    default: break;
  }
}

void HostSession::handleMessage(const ChannelMsg& msg) {
  const bool control = mode_.control();
  switch (msg.kind) {
    case Kind::chat:
      if (auto text = parts_.whole(msg)) chat_.received(utf8Lossy(toString(*text)), loop_.wallNow());
      break;
    case Kind::unused2: (void)parts_.whole(msg); break;
    case Kind::fileOffer:
      if (msg.data.size() >= 4) {
        channel_.post(Kind::fileDeclined, ByteView(msg.data).first(4));
        channel_.postText(Kind::chat, "Receiving files is not in Plimo for Linux yet.");
      }
      break;
    case Kind::showMonitor:
      if (!msg.data.empty()) pictures_.showMonitor(msg.data[0]);
      break;
    case Kind::restart:
      if (control)
        channel_.postText(Kind::chat, "This PC can't be restarted from a distance; ask the person here to restart it.");
      break;
    case Kind::capabilities: pictures_.setCapabilities(msg.data.empty() ? 0 : msg.data[0]); break;
    case Kind::sound: sound_.setWanted(!msg.data.empty() && msg.data[0] != 0); break;
    case Kind::profileText:
      if (auto text = parts_.whole(msg); text && helper_.takeText(*text)) consent_.ask();
      break;
    case Kind::profilePicture:
      if (auto payload = parts_.whole(msg); payload && helper_.takePicture(*payload)) consent_.ask();
      break;
    case Kind::askAdmin:
      if (control) channel_.post(Kind::adminAnswer, Bytes{0x01});
      break;
    // The viewer lists first: a viewer of another edition never hears of them.
    case Kind::extensions:
      if (auto list = parts_.whole(msg); list && extensions_.take(*list)) {
        if (auto own = extensions_.listOnce()) channel_.postBytes(Kind::extensions, *own);
        log("the helper's PC shares " + extensions_.shared());
      }
      break;
    case Kind::clipboardText:
      if (auto text = parts_.whole(msg)) clipboard_.take(*text);
      break;
    case FileKind::offer:
    case FileKind::answer:
    case FileKind::chunk:
    case FileKind::progress:
    case FileKind::cancel:
    case FileKind::request: files_.handle(msg); break;
    default: break;  // kind 17 (hide wallpaper) and unknown kinds
  }
}

}  // namespace plimo
