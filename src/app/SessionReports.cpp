#include "app/SessionReports.h"

#include <algorithm>
#include <fstream>

#include "core/PlimoID.h"
#include "core/Text.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PlimoClient.h"
#include "protocol/wire/ReportPayload.h"
#include "support/AtomicFile.h"
#include "support/IniFile.h"

namespace plimo {

namespace {

// "Long ago": the next tick may send.
constexpr double kDistantPast = -1e12;
constexpr size_t kMsgIDLength = 8;
// A ref longer than this is not one the server makes.
constexpr size_t kMaxWord = 64;
// Files larger than this were not written by Plimo; they read as empty.
constexpr uintmax_t kMaxFileSize = 16 * 1024 * 1024;

// The lines of a file split at every line break (CR LF, LF or CR).
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string readSmallFile(const std::filesystem::path& path) {
  std::error_code error;
  auto size = std::filesystem::file_size(path, error);
  if (error || size > kMaxFileSize) return {};
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Writes `text`, or removes the file when there is nothing to keep. A
// failure is ignored: what is in memory still goes out this run.
void replaceOrRemove(const std::filesystem::path& path, const std::string& text) {
  std::error_code ignored;
  if (text.empty()) {
    std::filesystem::remove(path, ignored);
  } else {
    (void)writeFileAtomically(path, text);
  }
}

// Printable ASCII only: the ref is shown on a terminal and written back into
// files, where a control or escape sequence from the server has no place.
bool plainWord(const std::string& word) {
  return !word.empty() && word.size() <= kMaxWord &&
         std::all_of(word.begin(), word.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

}  // namespace

SessionReports::SessionReports(EventLoop& loop, IniFile& ini, const std::filesystem::path& folder,
                               Callbacks callbacks)
    : loop_(loop),
      ini_(ini),
      file_(folder / "PendingReports.txt"),
      asksFile_(folder / "PendingAsks.txt"),
      callbacks_(std::move(callbacks)),
      nextTry_(kDistantPast) {
  items_ = parseQueue(readSmallFile(file_));
  std::string kept = readSmallFile(asksFile_);
  for (auto line : splitLines(kept)) {
    if (auto ask = parseAsk(line); ask && asks_.size() < kMaxAsks) asks_.push_back(*ask);
  }
  if (!items_.empty()) log("Session report: " + std::to_string(items_.size()) + " report(s) still to send");
  if (!asks_.empty()) log("Session report: " + std::to_string(asks_.size()) + " session(s) still to report on");
  timer_ = loop_.every(1.0, guard_.weakly([](SessionReports& self) { self.tick(); }));
}

SessionReports::~SessionReports() = default;

void SessionReports::log(const std::string& text) const {
  if (callbacks_.log) callbacks_.log(text);
}

std::string SessionReports::renderQueue(const std::vector<Queued>& items) {
  std::string text;
  for (const auto& item : items) text += item.msgID + "\t" + item.payload + "\r\n";
  return text;
}

std::vector<SessionReports::Queued> SessionReports::parseQueue(std::string_view text) {
  std::vector<Queued> items;
  for (auto line : splitLines(text)) {
    size_t tab = line.find('\t');
    if (tab != kMsgIDLength || tab + 1 >= line.size()) continue;
    items.push_back({std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))});
  }
  return items;
}

std::optional<SessionReports::Ask> SessionReports::parseAsk(std::string_view line) {
  auto words = splitWords(line);
  if (words.size() < 6 || words[0] != "REPORTASK") return std::nullopt;
  // Dates past the year 9999 and lengths past a century are no session's:
  // refused before any arithmetic on them can overflow.
  constexpr int64_t kLatestDate = 253402300799;
  constexpr int64_t kLongestSeconds = int64_t(100) * 366 * 24 * 3600;
  auto started = parseDecimal(words[2]);
  auto ended = parseDecimal(words[3]);
  if (!started || *started <= 0 || !ended || *ended < *started || *ended > kLatestDate) return std::nullopt;
  if (!plainWord(words[1]) || !isPlimoID(words[5])) return std::nullopt;
  int64_t seconds = parseDecimal(words[4]).value_or(*ended - *started);
  if (seconds < 0 || seconds > kLongestSeconds) return std::nullopt;
  Ask ask;
  ask.ref = words[1];
  ask.started = *started;
  ask.ended = *ended;
  ask.seconds = seconds;
  ask.helpedID = words[5];
  return ask;
}

std::string SessionReports::askLine(const Ask& ask) {
  return "REPORTASK " + ask.ref + " " + std::to_string(ask.started) + " " + std::to_string(ask.ended) + " " +
         std::to_string(ask.seconds) + " " + ask.helpedID;
}

bool SessionReports::handle(const std::string& line) {
  auto words = splitWords(line);
  if (words[0] == "REPORTASK" && words.size() >= 6) {
    if (auto ask = parseAsk(line)) {
      // Written once, not at every ask: a server sending many costs no disk writes.
      if (ini_.string("Reports", "Wanted", "") != "1") {
        ini_.set("Reports", "Wanted", "1");
        if (auto saved = ini_.save(); !saved) log("Could not save " + ini_.url().string() + ": " + saved.error());
      }
      queueAsk(std::move(*ask));
    }
    return true;
  }
  if (words[0] == "REPORT" && words.size() >= 3 && words[1] == "OK") {
    answered(true, words[2], "");
    return true;
  }
  if (words[0] == "ERR" && words.size() >= 2 && words[1].starts_with("REPORT_")) {
    answered(false, items_.empty() ? "" : items_.front().msgID, words[1]);
    return true;
  }
  return false;
}

void SessionReports::queueAsk(Ask ask) {
  // The same session on screen or waiting already; "-" names no session.
  if (ask.ref != "-") {
    if (shown_ && shown_->ref == ask.ref) return;
    if (std::any_of(asks_.begin(), asks_.end(), [&](const Ask& a) { return a.ref == ask.ref; })) return;
  }
  if (asks_.size() >= kMaxAsks) {
    log("Session report: too many sessions wait for a report; the one with " + formatPlimoID(ask.helpedID) +
        " is not kept");
    return;
  }
  asks_.push_back(std::move(ask));
  saveAsks();
  if (!form_) {
    log("Session report: the server asks for a report on the session with " + formatPlimoID(asks_.back().helpedID) +
        "; nobody can answer here, so it waits for the next start with windows or a terminal");
  }
  showNext();
}

void SessionReports::setForm(ReportForm* form) {
  form_ = form;
  showNext();
}

void SessionReports::showNext() {
  if (!form_ || shown_ || asks_.empty()) return;
  shown_ = asks_.front();
  asks_.erase(asks_.begin());
  saveAsks();
  std::string pcName = callbacks_.nameOf ? callbacks_.nameOf(shown_->helpedID) : "";
  std::string helper = callbacks_.helperName ? callbacks_.helperName() : "";
  form_->open(
      ReportDraft(*shown_, pcName, helper),
      guard_.weakly<ReportForm::End, const std::string&>(
          [](SessionReports& self, ReportForm::End end, const std::string& payload) { self.formEnded(end, payload); }));
}

void SessionReports::formEnded(ReportForm::End end, const std::string& payload) {
  if (!shown_) return;
  std::string who = formatPlimoID(shown_->helpedID);
  if (end == ReportForm::End::saved && !payload.empty()) {
    add(payload);
    log("Session report: saved for " + who);
  } else if (end != ReportForm::End::closed) {
    log("Session report: skipped for " + who);
  }
  shown_.reset();
  saveAsks();
  // The next ask opens after this form has gone, not from inside its answer.
  showTimer_ = loop_.after(0, guard_.weakly([](SessionReports& self) { self.showNext(); }));
}

void SessionReports::add(std::string payload) {
  std::string msgID = asciiLower(PlimoCrypto::hex(PlimoCrypto::randomBytes(kMsgIDLength / 2)));
  items_.push_back({msgID, std::move(payload)});
  saveQueue();
  nextTry_ = kDistantPast;
}

void SessionReports::tick() {
  PlimoClient* client = callbacks_.client ? callbacks_.client() : nullptr;
  if (items_.empty() || !client) return;
  double now = loop_.now();
  if (!sending_) {
    if (now < nextTry_ || !client->serverUp() || client->myID() == "0") return;
    sending_ = true;
    sentAt_ = now;
    resends_ = 0;
    return sendFirst();
  }
  double elapsed = now - sentAt_;
  if (elapsed >= kGiveUp) {
    sending_ = false;
    nextTry_ = now + kWaitAgain;
  } else if ((resends_ == 0 && elapsed >= kFirstResend) || (resends_ == 1 && elapsed >= kSecondResend)) {
    ++resends_;
    sendFirst();
  }
}

void SessionReports::sendFirst() {
  PlimoClient* client = callbacks_.client ? callbacks_.client() : nullptr;
  if (!client || items_.empty()) return;
  for (const auto& line : ReportPayload::commandLines(items_.front().msgID, items_.front().payload)) {
    if (!client->serverUp()) return;
    client->sendRelay(line);
  }
}

void SessionReports::answered(bool ok, std::string_view msgID, const std::string& error) {
  if (!sending_ || items_.empty()) return;
  if (ok) {
    if (!sameName(msgID, items_.front().msgID)) return;
    items_.erase(items_.begin());
    saveQueue();
    sending_ = false;
    nextTry_ = kDistantPast;
    log("Session report: stored on the server");
    return;
  }
  sending_ = false;
  if (error == "REPORT_RATE" || error == "REPORT_NOT_READY") {
    nextTry_ = loop_.now() + kWaitAgain;
    log("Session report: the server cannot take it yet (" + error + "); trying again in a minute");
    return;
  }
  log("Session report: not accepted by the server (" + error + "); dropped");
  items_.erase(items_.begin());
  saveQueue();
  nextTry_ = kDistantPast;
}

void SessionReports::saveQueue() { replaceOrRemove(file_, renderQueue(items_)); }

void SessionReports::saveAsks() {
  std::string text;
  if (shown_) text += askLine(*shown_) + "\r\n";
  for (const auto& ask : asks_) text += askLine(ask) + "\r\n";
  replaceOrRemove(asksFile_, text);
}

}  // namespace plimo
