#pragma once
// A session's file transfers, at most one each way: the offers, answers,
// chunks, progress and cancels of channel kinds 98 to 103, once the
// partner's extension list names "files" (before that every one of them is
// ignored and nothing is sent). The person here answers each offer (the
// window watches `offered`); with no one to ask, an offer is taken only
// into the folder given. The helper asks for a file; the helped person picks
// it (`requested`), so the helper never sees the helped PC's disk.
//
// Owner: a session, which hands it the channel messages of those kinds,
// calls tick() from its channel timer before polling the channel, and drops
// it at the end (a transfer still under way then leaves nothing behind).
// The loop's thread only.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/EventLoop.h"
#include "core/Observable.h"
#include "exchange/FileReceiver.h"
#include "exchange/FileSender.h"
#include "exchange/PartnerExtensions.h"
#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/MsgChannel.h"

namespace plimo {

// What a progress bar shows of one transfer.
struct TransferView {
  std::string name;
  uint64_t size = 0, done = 0;
  double rate = 0;         // bytes a second so far
  double secondsLeft = 0;  // at that rate
  bool operator==(const TransferView&) const = default;
};

class FileTransfers {
 public:
  // The share of the link a transfer takes: while a picture is on its way,
  // and while none is.
  static constexpr Rate kShare{4e6, 64e3};
  static constexpr Rate kShareBesidePictures{1.5e6, 32e3};
  // The receiver tells its progress every this many bytes.
  static constexpr uint64_t kProgressEvery = 256u << 10;

  // Where accepted files go (empty: nowhere, every offer is declined), and
  // whether a person here answers offers and requests.
  struct Place {
    std::filesystem::path folder;
    bool askPerson = false;
  };
  // What happened, for the window and the log.
  using NoteFn = std::function<void(const std::string&)>;

  // Offers the extension to `partner`, which outlives the transfers.
  FileTransfers(const EventLoop& clock, MsgChannel& channel, PartnerExtensions& partner, Place place, NoteFn note);

  // The partner's extension list named "files".
  bool enabled() const;

  // Offers a file (or answers the partner's request with it). False, with a
  // note, when one is already going out or the file cannot be read.
  bool sendFile(const std::filesystem::path& path);
  // The same once the partner's list names "files" (-sendFile).
  void sendWhenEnabled(std::filesystem::path path) { pending_ = std::move(path); }
  void requestFile();
  void declineRequest();
  void answerOffer(bool accept);
  void cancelSending();
  void cancelReceiving();

  // One channel message of kinds 98 to 103.
  void handle(const ChannelMsg& msg);
  // Sends what the share allows; `picturesBusy` while a picture is on its way.
  void tick(bool picturesBusy);

  const Observable<std::optional<TransferView>>& sending() const { return sendingView_; }
  const Observable<std::optional<TransferView>>& receiving() const { return receivingView_; }
  // An offer waiting for the person's answer (answerOffer).
  const Observable<std::optional<TransferView>>& offered() const { return offeredView_; }
  // The partner waits for the person to pick a file (sendFile) or none
  // (declineRequest).
  const Observable<bool>& requested() const { return requested_; }

 private:
  void onOffer(const FileMsg::Offer& offer);
  void onReply(const FileMsg::Reply& reply);
  void onChunk(const FileMsg::Chunk& chunk);
  void onProgress(const FileMsg::Progress& progress);
  void onCancel(const FileMsg::Cancel& cancel);
  void accept(const FileMsg::Offer& offer);
  void endSending(const std::string& why);
  void endReceiving(const std::string& why);
  void show(Observable<std::optional<TransferView>>& view, const FileMsg::Offer& offer, uint64_t done,
            double since);
  void note(const std::string& text) const;

  const EventLoop& clock_;
  MsgChannel& channel_;
  const PartnerExtensions& partner_;
  const Place place_;
  const NoteFn note_;

  std::optional<std::filesystem::path> pending_;
  std::unique_ptr<FileSender> sender_;
  bool accepted_ = false;
  bool posted_ = false;
  double sendStart_ = 0;
  uint32_t nextID_ = 1;
  std::optional<uint32_t> request_;  // the partner's, waiting for the person's pick
  std::optional<uint32_t> askedFor_;  // this side's request, until an offer or a cancel answers it

  std::optional<FileMsg::Offer> offered_;  // waiting for the person's answer
  std::optional<FileMsg::Offer> incoming_;
  std::unique_ptr<FileReceiver> receiver_;
  uint64_t lastProgress_ = 0;
  double receiveStart_ = 0;

  Observable<std::optional<TransferView>> sendingView_, receivingView_, offeredView_;
  Observable<bool> requested_{false};
};

}  // namespace plimo
