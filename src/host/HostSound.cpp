#include "host/HostSound.h"

#include "protocol/wire/SessionCodecs.h"

namespace plimo {

HostSound::HostSound(EventLoop& loop, PlatformFactory& platform, std::function<void(ByteView)> send,
                     std::function<void(const std::string&)> log)
    : send_(std::move(send)), log_(std::move(log)), capture_(platform.soundCapture()) {
  capture_->onAudio = [&loop, weak = guard_.weak()](Bytes packet) {
    loop.post([weak, packet = std::move(packet)] {
      if (auto self = weak.lock()) self->sendPacket(packet);
    });
  };
}

void HostSound::start() {
  running_ = true;
  update();
}

void HostSound::stop() {
  running_ = false;
  capture_->stop();
}

void HostSound::setWanted(bool on) {
  wanted_ = on;
  update();
}

void HostSound::update() {
  capture_->setAudioOn(wanted_);
  if (started_ || !running_ || !wanted_) return;
  started_ = true;
  try {
    capture_->start();
  } catch (const Failure& failure) {
    log_("no sound: " + failure.text());
  }
}

void HostSound::sendPacket(const Bytes& payload) {
  if (!running_ || !wanted_ || paused_) return;
  send_(AudioPacket::encode(++seq_, payload));
}

}  // namespace plimo
