#include "viewer/ViewerSound.h"

#include "protocol/wire/SessionCodecs.h"

namespace plimo {

void ViewerSound::play(ByteView packet) {
  const auto sound = AudioPacket::decode(packet);
  if (failed_ || !sound) return;
  if (!player_) {
    try {
      out_ = platform_.soundOut();
      player_.emplace(*out_);
    } catch (const Failure& failure) {
      failed_ = true;
      log_("No sound: " + failure.text());
      onFailed_();
      return;
    }
  }
  player_->play(sound->sound);
}

void ViewerSound::flush() {
  if (player_) player_->flush();
}

void ViewerSound::close() {
  player_.reset();
  out_.reset();
}

}  // namespace plimo
