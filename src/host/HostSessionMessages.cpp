// The host session's vocabulary on the wire: the partner's packets, the
// channel messages both ways, and the helper's profile.

#include <algorithm>

#include "core/Text.h"
#include "host/HelperProfile.h"
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

int32_t toI32(double value) { return int32_t(std::clamp(value, -2147483648.0, 2147483647.0)); }

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
          hold(std::move(msg));
        }
      }
      break;
    case SessionPacket::kChannelAck: channel_.handleAck(packet); break;
    case SessionPacket::kFrameAck:
      if (!running) break;
      frames_.handleAck(packet);
      if (frames_.hasRoom()) tryCapture(true);
      break;
    case SessionPacket::kFrameNack:
      if (running) frames_.handleNack(packet);
      break;
    case SessionPacket::kInput: {
      if (!running) break;
      const bool apply = !paused_ && mode_ == SessionMode::control;
      auto ack = inputs_.handle(packet, apply, [this](const InputEvent& e) {
        injector_.apply(e.kind, e.x, e.y, e.data);
      });
      if (ack) send(*ack);
      break;
    }
    case SessionPacket::kFullPicture:
      if (running) wantFull_ = true;
      break;
    default: break;
  }
}

void HostSession::hold(ChannelMsg msg) {
  // Bounded: a partner that floods before consent loses its excess, not our memory.
  if (early_.size() >= kMaxEarlyMessages || earlyBytes_ + msg.data.size() > kMaxEarlyBytes) {
    if (!std::exchange(earlyOverflowLogged_, true)) log("too many messages before consent; the rest are dropped");
    return;
  }
  earlyBytes_ += msg.data.size();
  early_.push_back(std::move(msg));
}

void HostSession::handleMessage(const ChannelMsg& msg) {
  const bool control = !paused_ && mode_ == SessionMode::control;
  switch (msg.kind) {
    case Kind::chat:
      if (auto text = parts_.whole(msg)) {
        addChat({newChatLineID(), false, utf8Lossy(toString(*text)), loop_.wallNow()});
        if (!chatOpen_) ++unreadChat_;
      }
      break;
    case Kind::unused2: (void)parts_.whole(msg); break;
    case Kind::fileOffer:
      if (msg.data.size() >= 4) {
        channel_.post(Kind::fileDeclined, ByteView(msg.data).first(4));
        channel_.postText(Kind::chat, "Receiving files is not in Plimo for Linux yet.");
      }
      break;
    case Kind::showMonitor:
      if (!msg.data.empty() && msg.data[0] < displays_.size()) {
        frames_.clear();
        wantFull_ = true;
        startCapture(displays_[msg.data[0]]);
      }
      break;
    case Kind::restart:
      if (control)
        channel_.postText(Kind::chat, "This PC can't be restarted from a distance; ask the person here to restart it.");
      break;
    case Kind::capabilities: {
      const uint8_t b = msg.data.empty() ? 0 : msg.data[0];
      videoWanted_ = (b & Capability::video) != 0;
      const bool legacy = (b & Capability::windowed) == 0;
      if (legacy != frames_.legacy()) {
        frames_.setLegacy(legacy);
        frames_.clear();
      }
      wantFull_ = true;
      log(std::string("helper can show H.264: ") + (videoWanted_ ? "true" : "false"));
      break;
    }
    case Kind::sound:
      audioOn_ = !msg.data.empty() && msg.data[0] != 0;
      updateSound();
      break;
    case Kind::profileText:
      if (auto text = parts_.whole(msg)) profileText(*text);
      break;
    case Kind::profilePicture:
      if (auto payload = parts_.whole(msg)) {
        helperPicture_ = HelperProfile::decodePicture(*payload);
        profileDone();
      }
      break;
    case Kind::askAdmin:
      if (control) channel_.post(Kind::adminAnswer, Bytes{0x01});
      break;
    default: break;  // kind 17 (hide wallpaper) and unknown kinds
  }
}

void HostSession::profileText(const Bytes& text) {
  auto profile = ProfileText::decode(utf8Lossy(toString(text)));
  if (profile.name) helperName_ = *profile.name;
  if (profile.company) helperCompany_ = *profile.company;
  if (!profile.pictureFollows) profileDone();
}

void HostSession::profileDone() {
  if (std::exchange(profileComplete_, true)) return;
  startConsent();
}

void HostSession::sendMode() {
  send(HostStatus::encode({modeByte(paused_ ? SessionMode::paused : mode_), true, false}));
}

void HostSession::announce() {
  channel_.postText(Kind::information,
                    system_.hostName + "|" + system_.loginName + "|" + system_.osName + " " + system_.osVersion);
  std::vector<MonitorList::Monitor> list;
  for (const auto& screen : capturer_->displays()) {
    const Rect& b = screen.bounds;
    list.push_back({toI32(b.x), toI32(b.y), toI32(b.width), toI32(b.height), screen.primary});
  }
  channel_.post(Kind::monitors, MonitorList::encode(list));
}

void HostSession::sendAudio(const Bytes& payload) {
  if (phase_ != Phase::running || !audioOn_ || paused_) return;
  send(AudioPacket::encode(++audioSeq_, payload));
}

}  // namespace plimo
