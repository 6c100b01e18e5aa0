#include "exchange/FileTransfers.h"

#include <algorithm>

namespace plimo {

namespace {

using FileMsg::Answer;

std::string declined(Answer answer) {
  switch (answer) {
    case Answer::accept: return "";
    case Answer::declined: return "was declined";
    case Answer::badName: return "was refused for its name";
    case Answer::noRoom: return "does not fit on the other PC's disk";
    case Answer::busy: return "must wait: the other PC is receiving a file";
    case Answer::noFolder: return "was declined: the other PC has no folder for files";
    case Answer::other: break;
  }
  return "was refused";
}

std::string inQuotes(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

FileTransfers::FileTransfers(const EventLoop& clock, MsgChannel& channel, PartnerExtensions& partner, Place place,
                             NoteFn note)
    : clock_(clock), channel_(channel), partner_(partner), place_(std::move(place)), note_(std::move(note)) {
  partner.offer(ExtensionList::kFiles, 1);
}

bool FileTransfers::enabled() const { return partner_.uses(ExtensionList::kFiles); }

bool FileTransfers::sendFile(const std::filesystem::path& path) {
  if (!enabled()) {
    note("The other PC cannot take files: only Plimo for Linux can.");
    return false;
  }
  if (sender_) {
    note("One file at a time: wait until " + inQuotes(sender_->offer().name) + " is through, or cancel it.");
    return false;
  }
  const uint32_t id = request_.value_or(nextID_);
  auto sender = FileSender::open(path, id);
  if (!sender) {
    note("The file " + inQuotes(path.filename().string()) + " cannot be read.");
    return false;
  }
  if (!request_) ++nextID_;
  request_.reset();
  requested_.set(false);
  sender_ = std::move(sender);
  accepted_ = posted_ = false;
  channel_.post(FileKind::offer, FileMsg::encode(sender_->offer()));
  show(sendingView_, sender_->offer(), 0, clock_.now());
  return true;
}

void FileTransfers::requestFile() {
  if (!enabled()) return note("The other PC cannot send files: only Plimo for Linux can.");
  askedFor_ = nextID_++;
  channel_.post(FileKind::request, FileMsg::encodeRequest(*askedFor_));
}

void FileTransfers::declineRequest() {
  if (!request_) return;
  channel_.post(FileKind::cancel, FileMsg::encode(FileMsg::Cancel{*request_, false}));
  request_.reset();
  requested_.set(false);
}

void FileTransfers::answerOffer(bool yes) {
  if (!offered_) return;
  const FileMsg::Offer offer = std::move(*offered_);
  offered_.reset();
  offeredView_.set(std::nullopt);
  if (yes) {
    accept(offer);
  } else {
    channel_.post(FileKind::answer, FileMsg::encode(FileMsg::Reply{offer.id, Answer::declined}));
  }
}

void FileTransfers::cancelSending() {
  if (!sender_) return;
  channel_.post(FileKind::cancel, FileMsg::encode(FileMsg::Cancel{sender_->offer().id, false}));
  endSending("Sending " + inQuotes(sender_->offer().name) + " was cancelled.");
}

void FileTransfers::cancelReceiving() {
  const auto& offer = incoming_ ? incoming_ : offered_;
  if (!offer) return;
  channel_.post(FileKind::cancel, FileMsg::encode(FileMsg::Cancel{offer->id, true}));
  endReceiving("Receiving " + inQuotes(offer->name) + " was cancelled; nothing was kept.");
}

void FileTransfers::handle(const ChannelMsg& msg) {
  if (!enabled()) return;
  switch (msg.kind) {
    case FileKind::offer:
      if (auto offer = FileMsg::decodeOffer(msg.data)) onOffer(*offer);
      break;
    case FileKind::answer:
      if (auto reply = FileMsg::decodeReply(msg.data)) onReply(*reply);
      break;
    case FileKind::chunk:
      if (auto chunk = FileMsg::decodeChunk(msg.data)) onChunk(*chunk);
      break;
    case FileKind::progress:
      if (auto progress = FileMsg::decodeProgress(msg.data)) onProgress(*progress);
      break;
    case FileKind::cancel:
      if (auto cancel = FileMsg::decodeCancel(msg.data)) onCancel(*cancel);
      break;
    case FileKind::request:
      if (auto id = FileMsg::decodeRequest(msg.data)) {
        if (request_ || sender_ || !place_.askPerson) {
          channel_.post(FileKind::cancel, FileMsg::encode(FileMsg::Cancel{*id, false}));
        } else {
          request_ = *id;
          requested_.set(true);
        }
      }
      break;
    default: break;
  }
}

void FileTransfers::onOffer(const FileMsg::Offer& offer) {
  auto reply = [&](Answer answer) {
    channel_.post(FileKind::answer, FileMsg::encode(FileMsg::Reply{offer.id, answer}));
  };
  if (askedFor_ == offer.id) askedFor_.reset();
  if (offered_ || incoming_) return reply(Answer::busy);
  std::error_code error;
  if (place_.folder.empty() || !std::filesystem::is_directory(place_.folder, error)) return reply(Answer::noFolder);
  if (auto refusal = FileReceiver::refusal(offer, place_.folder)) {
    note("A file offered by the other PC was refused: " +
         std::string(*refusal == Answer::badName ? "its name is not a plain file name."
                                                 : "it does not fit on this disk."));
    return reply(*refusal);
  }
  if (!place_.askPerson) return accept(offer);
  offered_ = offer;
  offeredView_.set(TransferView{offer.name, offer.size});
}

void FileTransfers::accept(const FileMsg::Offer& offer) {
  receiver_ = FileReceiver::open(place_.folder, offer);
  if (!receiver_) {
    note("A file could not be created in " + place_.folder.string() + ".");
    channel_.post(FileKind::answer, FileMsg::encode(FileMsg::Reply{offer.id, Answer::other}));
    return;
  }
  incoming_ = offer;
  lastProgress_ = 0;
  receiveStart_ = clock_.now();
  channel_.post(FileKind::answer, FileMsg::encode(FileMsg::Reply{offer.id, Answer::accept}));
  show(receivingView_, offer, 0, receiveStart_);
  if (offer.size == 0) onChunk(FileMsg::Chunk{offer.id, 0, {}});
}

void FileTransfers::onChunk(const FileMsg::Chunk& chunk) {
  if (!incoming_ || chunk.id != incoming_->id) return;  // a cancelled one's last chunks
  const auto step = chunk.data.empty() ? receiver_->finish() : receiver_->take(chunk);
  const uint64_t done = receiver_->received();
  const std::string name = inQuotes(incoming_->name);
  if (step == FileReceiver::Step::more) {
    if (done - lastProgress_ >= kProgressEvery) {
      lastProgress_ = done;
      channel_.post(FileKind::progress, FileMsg::encode(FileMsg::Progress{chunk.id, done, FileMsg::State::going}));
      show(receivingView_, *incoming_, done, receiveStart_);
    }
    return;
  }
  const bool saved = step == FileReceiver::Step::saved;
  channel_.post(FileKind::progress, FileMsg::encode(FileMsg::Progress{
                                        chunk.id, done, saved ? FileMsg::State::saved : FileMsg::State::failed}));
  if (!saved) channel_.post(FileKind::cancel, FileMsg::encode(FileMsg::Cancel{chunk.id, true}));
  endReceiving(saved ? "Received " + name + ", saved as " + receiver_->savedAs().string() + "."
                     : "Receiving " + name + " failed: it did not arrive as offered; nothing was kept.");
}

void FileTransfers::onReply(const FileMsg::Reply& reply) {
  if (!sender_ || reply.id != sender_->offer().id || accepted_) return;
  if (reply.answer != Answer::accept)
    return endSending("The file " + inQuotes(sender_->offer().name) + " " + declined(reply.answer) + ".");
  accepted_ = true;
  sendStart_ = clock_.now();
}

void FileTransfers::onProgress(const FileMsg::Progress& progress) {
  if (!sender_ || progress.id != sender_->offer().id || !accepted_) return;
  const std::string name = inQuotes(sender_->offer().name);
  switch (progress.state) {
    case FileMsg::State::going:
      show(sendingView_, sender_->offer(), std::min(progress.received, sender_->offer().size), sendStart_);
      break;
    case FileMsg::State::saved: endSending(name + " arrived whole."); break;
    case FileMsg::State::failed: endSending(name + " did not arrive whole; the other PC kept nothing."); break;
  }
}

void FileTransfers::onCancel(const FileMsg::Cancel& cancel) {
  if (cancel.yours) {
    if (sender_ && cancel.id == sender_->offer().id)
      endSending("The other PC cancelled " + inQuotes(sender_->offer().name) + ".");
    return;
  }
  const auto& offer = incoming_ ? incoming_ : offered_;
  if (offer && cancel.id == offer->id) {
    endReceiving("The other PC cancelled " + inQuotes(offer->name) + "; nothing was kept.");
  } else if (askedFor_ == cancel.id) {
    askedFor_.reset();
    note("No file came: the other PC picked none or cannot pick one.");
  }
}

void FileTransfers::tick(bool picturesBusy) {
  if (pending_ && enabled()) {
    const auto path = std::move(*pending_);
    pending_.reset();
    sendFile(path);
  }
  if (!sender_ || !accepted_ || posted_) return;
  const auto step =
      sender_->pump(channel_, clock_.now(), picturesBusy ? kShareBesidePictures : kShare);
  if (step == FileSender::Pump::failed) {
    channel_.post(FileKind::cancel, FileMsg::encode(FileMsg::Cancel{sender_->offer().id, false}));
    endSending(inQuotes(sender_->offer().name) + " changed while it was sent; it was stopped.");
  } else {
    posted_ = step == FileSender::Pump::allPosted;
  }
}

void FileTransfers::endSending(const std::string& why) {
  sender_.reset();
  sendingView_.set(std::nullopt);
  note(why);
}

void FileTransfers::endReceiving(const std::string& why) {
  receiver_.reset();
  incoming_.reset();
  offered_.reset();
  offeredView_.set(std::nullopt);
  receivingView_.set(std::nullopt);
  note(why);
}

void FileTransfers::show(Observable<std::optional<TransferView>>& view, const FileMsg::Offer& offer,
                         uint64_t done, double since) {
  const double seconds = clock_.now() - since;
  const double rate = seconds > 0 ? double(done) / seconds : 0;
  view.set(TransferView{offer.name, offer.size, done, rate, rate > 0 ? double(offer.size - done) / rate : 0});
}

void FileTransfers::note(const std::string& text) const {
  if (note_) note_(text);
}

}  // namespace plimo
