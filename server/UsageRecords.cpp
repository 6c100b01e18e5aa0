#include "server/UsageRecords.h"

namespace plimo {

uint64_t UsageRecords::find(const std::string& viewerID, const std::string& hostID) const {
  auto it = byPair_.find(viewerID + " " + hostID);
  return it == byPair_.end() ? 0 : it->second;
}

UsageRecords::Usage* UsageRecords::at(uint64_t number) {
  auto it = usages_.find(number);
  return it == usages_.end() ? nullptr : &it->second;
}

uint64_t UsageRecords::open(const std::string& viewerID, const std::string& hostID, const std::string& role) {
  std::string key = viewerID + " " + hostID;
  Usage usage;
  usage.viewerID = viewerID;
  usage.hostID = hostID;
  usage.started = server_.now();
  usage.startedWall = int64_t(server_.wallNow());
  usage.row = server_.writes().startUsage(viewerID, hostID, role, usage.startedWall);
  uint64_t number = next_++;
  usages_.emplace(number, std::move(usage));
  byPair_.emplace(key, number);
  server_.log("Session " + viewerID + " helps " + hostID);
  return number;
}

bool UsageRecords::sideOnline(uint64_t serial, const std::string& id) {
  return serial != 0 && server_.session(serial) && server_.holderOf(id) == serial;
}

bool UsageRecords::sideGone(uint64_t number, uint64_t serial) {
  Usage* usage = at(number);
  if (!usage) return false;
  if (usage->viewerSerial == serial) usage->viewerSerial = 0;
  if (usage->hostSerial == serial) usage->hostSerial = 0;
  return !sideOnline(usage->viewerSerial, usage->viewerID) && !sideOnline(usage->hostSerial, usage->hostID);
}

void UsageRecords::close(uint64_t number) {
  auto it = usages_.find(number);
  if (it == usages_.end()) return;
  Usage& usage = it->second;
  auto seconds = int64_t(server_.now() - usage.started + 0.5);
  server_.log("Session " + usage.viewerID + " helps " + usage.hostID + " ended after " + std::to_string(seconds) +
              " s");
  // The helper says what the session was for; its report names the record,
  // and only a record it was asked about. It is asked once the record says
  // so, so that its report never arrives before.
  Ended ended{usage.row, usage.viewerID, usage.hostID, usage.viewerSerial, usage.startedWall, seconds,
              server_.session(usage.viewerSerial) != nullptr};
  byPair_.erase(usage.viewerID + " " + usage.hostID);
  usages_.erase(it);
  server_.writes().submit([ended](ServerStore& store) { return record(store, ended); },
                          [this, ended](const EndResult& result) { recorded(ended, result); });
}

UsageRecords::EndResult UsageRecords::record(ServerStore& store, const Ended& ended) {
  EndResult result;
  result.row = *ended.row;
  if (auto length = store.endUsage(result.row, ended.seconds); !length) {
    result.lengthError = length.error();
    return result;
  }
  if (!ended.askHelper) return result;
  if (auto asked = store.markAsked(result.row); !asked) {
    result.askError = asked.error();
  } else {
    result.asked = true;
  }
  return result;
}

void UsageRecords::recorded(const Ended& ended, const EndResult& result) {
  if (!result.lengthError.empty()) {
    server_.log("Cannot record the length of session " + ended.viewerID + " " + ended.hostID + ": " +
                result.lengthError);
  }
  if (!result.askError.empty()) {
    server_.log("Cannot note the report request on session " + std::to_string(result.row) + ": " + result.askError);
  }
  const ClientSession* helper = server_.session(ended.helperSerial);
  if (!result.asked || !helper) return;
  server_.say(*helper, "REPORTASK " + std::to_string(result.row) + " " + std::to_string(ended.startedWall) + " " +
                           std::to_string(ended.startedWall + ended.seconds) + " " + std::to_string(ended.seconds) +
                           " " + ended.hostID);
}

}  // namespace plimo
