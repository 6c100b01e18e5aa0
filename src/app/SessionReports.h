#pragma once
// Billing reports after a helper's sessions: the server asks (REPORTASK),
// the helper answers in a form, the answer waits in PendingReports.txt and
// goes to the server in 800-character pieces until the server confirms it
// (REPORT OK) or refuses it for good (ERR REPORT_...).
//
// Asks nobody could answer yet (no form, or the program ended first) wait in
// PendingAsks.txt, one REPORTASK line each, and are shown at the next start
// that has a form.
//
// Owner: the application model, for the whole process; the loop's thread
// only. Callbacks are the model's and hold it weakly; none fires after the
// reports are destroyed.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ReportDraft.h"
#include "app/ReportForm.h"
#include "core/EventLoop.h"
#include "core/Weakly.h"

namespace plimo {

class IniFile;
class PlimoClient;

class SessionReports {
 public:
  using Ask = ReportAsk;
  struct Queued {
    std::string msgID;  // 8 lower-case hex digits
    std::string payload;

    bool operator==(const Queued&) const = default;
  };
  struct Callbacks {
    std::function<PlimoClient*()> client;  // the current server link, or none
    std::function<std::string(const std::string& id)> nameOf;  // "" for a PC not in the recent list
    std::function<std::string()> helperName;
    std::function<void(const std::string&)> log;
  };

  // Retry times in seconds after the first send of an item.
  static constexpr double kFirstResend = 6;
  static constexpr double kSecondResend = 15;
  static constexpr double kGiveUp = 30;
  // After giving up or being told to wait: a server that is busy or restarting
  // gets a minute.
  static constexpr double kWaitAgain = 60;
  // Asks kept at once; a server cannot fill the disk with them.
  static constexpr size_t kMaxAsks = 50;

  // Loads both files from `folder` (beside Plimo.ini) and starts the
  // 1-second timer. `ini` is the user's Plimo.ini and outlives this.
  SessionReports(EventLoop& loop, IniFile& ini, const std::filesystem::path& folder, Callbacks callbacks);
  ~SessionReports();
  SessionReports(const SessionReports&) = delete;
  SessionReports& operator=(const SessionReports&) = delete;

  // A line of the report families from the server; true when it was one of
  // ours (REPORTASK, REPORT OK, ERR REPORT_...).
  bool handle(const std::string& line);
  // Who answers asks from now on; nullptr: nobody, asks are kept.
  void setForm(ReportForm* form);
  // Queues a payload for the server.
  void add(std::string payload);

  const std::vector<Queued>& items() const { return items_; }
  const std::vector<Ask>& asks() const { return asks_; }

  // The queue file's text and back; lines that are not "8 characters, tab,
  // payload" are skipped.
  static std::string renderQueue(const std::vector<Queued>& items);
  static std::vector<Queued> parseQueue(std::string_view text);
  // A REPORTASK line's ask; nothing when its numbers or words are unusable.
  static std::optional<Ask> parseAsk(std::string_view line);
  static std::string askLine(const Ask& ask);

 private:
  void queueAsk(Ask ask);
  void showNext();
  void formEnded(ReportForm::End end, const std::string& payload);
  void tick();
  void sendFirst();
  void answered(bool ok, std::string_view msgID, const std::string& error);
  void saveQueue();
  void saveAsks();
  void log(const std::string& text) const;

  EventLoop& loop_;
  IniFile& ini_;
  const std::filesystem::path file_;
  const std::filesystem::path asksFile_;
  Callbacks callbacks_;
  std::vector<Queued> items_;
  bool sending_ = false;
  double sentAt_ = 0;
  int resends_ = 0;
  double nextTry_;
  std::vector<Ask> asks_;
  ReportForm* form_ = nullptr;
  std::optional<Ask> shown_;  // the ask on the open form
  Timer timer_;
  Timer showTimer_;
  LifeGuard<SessionReports> guard_{this};
};

}  // namespace plimo
