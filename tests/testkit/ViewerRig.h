#pragma once
// A viewer session on a ManualLoop with the test as its host: packets in
// through receive, everything the session sends kept in `sent`, well-formed
// channel messages from a host-side MsgChannel, and tile pictures.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/ManualLoop.h"
#include "platform/fake/FakePlatform.h"
#include "support/Zlib.h"
#include "viewer/LatestPicture.h"
#include "viewer/ViewerSession.h"

namespace plimo::testkit {

// A tile update of a `w` × `h` screen with one tile of `tw` × `th` at 0,0,
// each pixel {blue, green, red} from `paint`.
template <typename Paint>
Bytes update(int w, int h, int tw, int th, Paint paint) {
  Bytes raw;
  for (int v : {w, h, 1, 0, 0, tw, th}) appendLE<uint16_t>(raw, uint16_t(v));
  raw.reserve(raw.size() + size_t(tw) * size_t(th) * 3);
  for (int y = 0; y < th; ++y)
    for (int x = 0; x < tw; ++x)
      for (uint8_t c : paint(x, y)) raw.push_back(c);
  return Zlib::compress(raw);
}

// The same, with a grey tile.
inline Bytes update(int w, int h, int tw, int th) {
  return update(w, h, tw, th, [](int, int) { return std::array<uint8_t, 3>{0x80, 0x80, 0x80}; });
}

inline Bytes chunk(uint8_t type, uint32_t id, uint16_t index, uint16_t count, ByteView payload, uint32_t oldest = 1) {
  Bytes out{type};
  appendLE<uint32_t>(out, id);
  appendLE<uint16_t>(out, index);
  appendLE<uint16_t>(out, count);
  if (type == SessionPacket::kWindowedChunk) appendLE<uint32_t>(out, oldest);
  append(out, payload);
  return out;
}

inline Bytes frame(uint8_t format, ByteView body) {
  Bytes out{format};
  append(out, body);
  return out;
}

struct ViewerRig {
  ManualLoop loop;
  FakePlatform platform;
  LatestPicture display;
  std::vector<Bytes> sent;
  std::vector<std::string> logs;
  std::unique_ptr<ViewerSession> session;
  MsgChannel host{loop};  // makes well-formed message packets
  uint32_t nextFrame = 1;

  ViewerRig() {
    session = std::make_unique<ViewerSession>(
        loop, platform, ViewerSession::Link{"123456789", "417 203", [this](ByteView p) { sent.emplace_back(p.begin(), p.end()); }},
        AppSettings{}, [this](const std::string& line) { logs.push_back(line); },
        ViewerSession::Options{.videoOnThread = false});
    session->setDisplay(&display);
  }
  void message(uint8_t kind, ByteView payload) {
    host.post(kind, payload);
    while (!host.out().empty()) {
      for (auto& packet : host.poll()) session->receive(packet);
      loop.advance(0.01);
      for (auto& packet : sent)
        if (packet[0] == SessionPacket::kChannelAck) host.handleAck(packet);
      sent.erase(std::remove_if(sent.begin(), sent.end(), [](const Bytes& p) { return p[0] == SessionPacket::kChannelAck; }),
                 sent.end());
    }
  }
  // The host takes the viewer's messages and acknowledges them, so nothing
  // of the start is resent later.
  void acknowledge() {
    for (auto& packet : sent)
      if (packet[0] == SessionPacket::kChannelMsg) host.handleMsg(packet);
    for (auto& packet : host.poll()) session->receive(packet);
  }
  // One frame, in as many chunks as it takes.
  void picture(ByteView blob) {
    const uint32_t id = nextFrame++;
    const size_t count = std::max<size_t>(1, (blob.size() + FrameChunk::kPayload - 1) / FrameChunk::kPayload);
    for (size_t i = 0; i < count; ++i) {
      size_t from = i * FrameChunk::kPayload;
      session->receive(chunk(SessionPacket::kFrameChunk, id, uint16_t(i), uint16_t(count),
                             blob.subspan(from, std::min(FrameChunk::kPayload, blob.size() - from))));
    }
  }
  // A session with something to lose: control, two screens, a picture.
  void running() {
    session->receive(Bytes{SessionPacket::kHostStatus, 1, 1, 0});
    Bytes list{2};
    for (int i = 0; i < 2; ++i) {
      for (int v : {i * 640, 0, 640, 480}) appendLE<uint32_t>(list, uint32_t(v));
      list.push_back(uint8_t(i));
    }
    message(7, list);
    picture(frame(0, update(8, 6, 8, 6)));
    loop.advance(0.2);
    acknowledge();
    ASSERT_EQ(display.shown(), 1);
    sent.clear();
  }

  // Everything the window shows, in one comparable value.
  std::string state() const {
    const ViewerSession& s = *session;
    std::string out = std::to_string(int(s.mode().get())) + std::to_string(s.adminAvailable().get()) +
                      std::to_string(s.secureDesktop().get()) + s.remoteInfo().get() + "|" +
                      std::to_string(s.monitors().get().size()) + std::to_string(s.currentMonitor().get()) + "|" +
                      std::to_string(s.chat().get().size()) + std::to_string(s.unreadChat().get()) +
                      std::to_string(s.notes().get().size()) + std::to_string(s.gotFirstFrame().get()) + "|" +
                      std::to_string(s.remoteSize().get().width) + std::to_string(s.usingVideo().get()) +
                      std::to_string(int(s.rendering().get())) + std::to_string(s.framesShown()) +
                      std::to_string(display.shown()) + std::to_string(s.frameBytesHeld());
    ByteView pixels = s.tiles().pixels();
    return out + "|" + std::to_string(Zlib::adler32(pixels));
  }
  // Packets sent other than acknowledgements of messages and whole frames.
  std::vector<Bytes> sentBeyondAcks() const {
    std::vector<Bytes> out;
    for (auto& p : sent)
      if (p[0] != SessionPacket::kChannelAck && p[0] != SessionPacket::kFrameAck) out.push_back(p);
    return out;
  }
};

}  // namespace plimo::testkit
