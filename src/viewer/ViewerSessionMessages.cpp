// The viewer session's vocabulary on the wire: the host's packets, its
// channel messages and its sound.

#include <string>

#include "core/Text.h"
#include "viewer/ViewerSession.h"

namespace plimo {

namespace {

// A monitor record: x, y, width, height (i32 LE each), primary flag.
constexpr size_t kMonitorRecord = 17;
// Audio packet: type, u32 sequence, then the sound.
constexpr size_t kAudioHeader = 5;

std::vector<std::string_view> fields(std::string_view text) {
  std::vector<std::string_view> out;
  for (size_t from = 0;;) {
    const size_t bar = text.find('|', from);
    out.push_back(text.substr(from, bar == std::string_view::npos ? std::string_view::npos : bar - from));
    if (bar == std::string_view::npos) return out;
    from = bar + 1;
  }
}

}  // namespace

void ViewerSession::receive(ByteView packet) {
  if (packet.empty() || closed_) return;
  switch (packet[0]) {
    case SessionPacket::kFrameChunk: {
      auto result = frames_.handleChunk(packet);
      sendIf(result.reply);
      if (result.blob && !result.blob->empty()) showFrame(*result.blob);
      break;
    }
    case SessionPacket::kInputAck: inputAcknowledged(packet); break;
    case SessionPacket::kHostStatus: hostStatus(packet); break;
    case SessionPacket::kChannelMsg:
      for (auto& msg : channel_.handleMsg(packet)) {
        if (closed_) break;  // closed from inside a callback
        handleMessage(msg);
      }
      break;
    case SessionPacket::kChannelAck: channel_.handleAck(packet); break;
    case SessionPacket::kAudio: audio(packet); break;
    case SessionPacket::kWindowedChunk: {
      auto result = window_.handleChunk(packet);
      sendIf(result.reply);
      for (auto& blob : result.blobs)
        if (!blob.empty() && !closed_) showFrame(blob);
      break;
    }
    default: break;
  }
}

void ViewerSession::hostStatus(ByteView packet) {
  if (packet.size() < 2) return;
  if (packet[1] != mode.get()) {
    log("Session mode " + std::to_string(packet[1]));
    mode.set(packet[1]);
  }
  adminAvailable.set(packet.size() >= 3 && packet[2] == 1);
  secureDesktop.set(packet.size() >= 4 && packet[3] == 1);
}

void ViewerSession::handleMessage(const ChannelMsg& msg) {
  switch (msg.kind) {
    case MsgKind::chat:
      if (auto text = parts_.whole(msg)) {
        addChat({newChatLineID(), false, utf8Lossy(toString(*text)), loop_.wallNow()});
        if (!chatOpen.get()) unreadChat.set(unreadChat.get() + 1);
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
    case MsgKind::monitors: monitorList(msg.data); break;
    case MsgKind::information:
      if (auto text = parts_.whole(msg)) {
        remoteInfo.set(utf8Lossy(toString(*text)));
        const auto parts = fields(remoteInfo.get());
        if (parts.size() > 2)
          note("Connected to " + std::string(parts[0]) + " (user " + std::string(parts[1]) + "), " +
               std::string(parts[2]));
      }
      break;
    case MsgKind::adminAnswer:
      note(!msg.data.empty() && msg.data[0] == 1
               ? "Admin support is already available on the other PC."
               : "Admin rights were not given on the other PC (the Windows prompt was declined).");
      break;
    default: break;
  }
}

void ViewerSession::monitorList(ByteView payload) {
  if (payload.empty()) return;
  const size_t n = payload[0];
  // All records present: the count byte and n records fit.
  if (kMonitorRecord * n >= payload.size()) return;
  std::vector<Monitor> list;
  int primary = -1;
  for (size_t i = 0; i < n; ++i) {
    const size_t at = 1 + i * kMonitorRecord;
    auto i32 = [&](size_t k) { return double(int32_t(readLE32(payload, at + k * 4))); };
    list.push_back({{i32(0), i32(1), i32(2), i32(3)}, payload[at + 16] != 0});
    if (primary < 0 && list.back().primary) primary = int(i);
  }
  monitors.set(list);
  currentMonitor.set(primary < 0 ? 0 : primary);
}

void ViewerSession::audio(ByteView packet) {
  if (muted.get() || playerFailed_ || packet.size() <= kAudioHeader) return;
  if (!player_) {
    try {
      soundOut_ = platform_.soundOut();
      player_.emplace(*soundOut_);
    } catch (const Failure& failure) {
      playerFailed_ = true;
      log("No sound: " + failure.text());
      channel_.post(MsgKind::sound, Bytes{0});
      return;
    }
  }
  player_->play(packet.subspan(kAudioHeader));
}

}  // namespace plimo
