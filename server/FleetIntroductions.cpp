#include "server/FleetIntroductions.h"

#include "core/Text.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "server/IdRegistry.h"
#include "server/PresenceStore.h"
#include "server/Registrant.h"
#include "server/UnattendedGate.h"

namespace plimo {

FleetIntroductions::FleetIntroductions(HandlerContext& server, UnattendedGate& gate, std::string self,
                                       Answered answered, Introduced introduced)
    : server_(server),
      gate_(gate),
      self_(std::move(self)),
      answered_(std::move(answered)),
      introduced_(std::move(introduced)) {}

std::optional<std::string> FleetIntroductions::holderElsewhere(const std::string& id) {
  if (!mail_) return std::nullopt;
  std::optional<std::string> on = server_.reads().presentOn(id, int64_t(server_.wallNow())).valueOr(std::nullopt);
  if (!on || *on == self_ || !FleetLine::validServerName(*on)) return std::nullopt;
  return on;
}

bool FleetIntroductions::ask(const ClientSession& helper, const std::string& pcID, const std::string& server) {
  if (!mail_ || waiting_.size() >= kMaxWaiting) return false;
  const Registrant& asker = server_.registrant(helper);
  FleetLine line;
  line.kind = FleetLine::Kind::ask;
  Bytes random = PlimoCrypto::randomBytes(8);
  for (uint8_t b : random) line.nonce = line.nonce << 8 | b;
  line.from = self_;
  line.to = server;
  line.about = PeerAbout::of(helper, asker);
  line.pinned = asker.pinned;
  line.wanted = pcID;
  if (!waiting_.emplace(line.nonce, Waiting{helper.serial, asker.id, pcID, server, server_.now()}).second) {
    return false;
  }
  mail_->send(server, line.text());
  return true;
}

bool FleetIntroductions::awaiting(uint64_t serial, const std::string& pcID, const std::string& server) const {
  for (const auto& [nonce, asked] : waiting_) {
    if (asked.serial == serial && asked.pcID == pcID && asked.server == server) return true;
  }
  return false;
}

void FleetIntroductions::received(std::string_view text) {
  if (!mail_) return;
  std::optional<FleetLine> line = FleetLine::parse(text);
  if (!line) return drop("not a fleet line", text);
  if (line->to != self_) return drop("for another server", text);
  if (line->kind == FleetLine::Kind::ask) return asked(*line);
  answer(*line);
}

void FleetIntroductions::asked(const FleetLine& line) {
  if (line.from == self_ || !alive(line.from)) return drop("from a server not alive in the store", line.text());
  if (!asks_.take(server_.now(), kAsks)) return drop("over the budget of asks", line.text());
  uint64_t serial = server_.holderOf(line.wanted);
  const ClientSession* pc = serial ? server_.session(serial) : nullptr;
  const Registrant* wanted = pc ? &server_.registrant(*pc) : nullptr;
  // As on one server: a PC with unattended access is there only for trusted
  // helpers, and reads to anyone else as an ID that is not online.
  std::optional<ServerStore::Helper> trusted;
  if (pc && wanted->unattended && !wanted->peerKeyHex.empty()) {
    trusted = gate_.admitFromFleet(line.about.id, line.pinned, line.from, *pc);
  }
  if (!pc || wanted->peerKeyHex.empty() || (wanted->unattended && !trusted)) {
    return reply(line, FleetLine::Kind::no);
  }
  std::string as;
  if (trusted) {
    as = ", which has unattended access, as trusted helper" + (trusted->name.empty() ? "" : " " + trusted->name);
  }
  server_.log(*pc, "ID " + line.about.id + " on server " + line.from + " asks for " + line.wanted + as);
  server_.say(*pc, line.about.peerLine());
  introduced_(serial, line.about.id, line.from);
  reply(line, FleetLine::Kind::peer, PeerAbout::of(*pc, *wanted));
}

void FleetIntroductions::answer(const FleetLine& line) {
  auto it = waiting_.find(line.nonce);
  // The nonce is this server's own secret for one ask of one server: anything
  // else is a forgery or a stale answer.
  if (it == waiting_.end() || it->second.server != line.from ||
      (line.kind == FleetLine::Kind::peer && line.about.id != it->second.pcID)) {
    return drop("answering nothing this server asked", line.text());
  }
  Waiting asked = it->second;
  waiting_.erase(it);
  const ClientSession* helper = server_.session(asked.serial);
  if (!helper || server_.registrant(*helper).id != asked.helperID) return;
  answered_(asked.serial, asked.pcID, asked.server,
            line.kind == FleetLine::Kind::peer ? std::optional<std::string>(line.about.peerLine()) : std::nullopt);
}

void FleetIntroductions::sweep() {
  double now = server_.now();
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (now - it->second.since < kAnswerWait) {
      ++it;
      continue;
    }
    Waiting late = it->second;
    it = waiting_.erase(it);
    server_.log("No answer from server " + late.server + " about ID " + late.pcID);
    const ClientSession* helper = server_.session(late.serial);
    if (helper && server_.registrant(*helper).id == late.helperID) {
      answered_(late.serial, late.pcID, late.server, std::nullopt);
    }
  }
}

bool FleetIntroductions::alive(const std::string& server) {
  auto servers = server_.reads().servers();
  if (!servers) return false;
  int64_t now = int64_t(server_.wallNow());
  for (const PresenceStore::Server& s : *servers) {
    if (s.name == server) return s.heartbeat >= now - server_.reads().staleAfter();
  }
  return false;
}

void FleetIntroductions::reply(const FleetLine& ask, FleetLine::Kind kind, const PeerAbout& about) {
  FleetLine line;
  line.kind = kind;
  line.nonce = ask.nonce;
  line.from = self_;
  line.to = ask.from;
  line.about = about;
  mail_->send(ask.from, line.text());
}

void FleetIntroductions::drop(const std::string& why, std::string_view text) {
  if (!dropLogs_.take(server_.now(), kDropLogs)) {
    ++unlogged_;
    return;
  }
  std::string more = unlogged_ ? " (and " + std::to_string(unlogged_) + " more not logged)" : "";
  unlogged_ = 0;
  server_.log("Dropped a line from the fleet's channel, " + why + more + ": " +
              printable(text.substr(0, FleetLine::kMaxLength)));
}

}  // namespace plimo
