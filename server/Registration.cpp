#include "server/Registration.h"

#include <openssl/crypto.h>

#include <charconv>
#include <cmath>

#include "protocol/crypto/PlimoCrypto.h"
#include "server/ServerOptions.h"
#include "server/TextLine.h"
#include "server/UnattendedGate.h"

#ifndef PLIMO_VERSION
#define PLIMO_VERSION "0"
#endif

namespace plimo {

namespace {

// Secrets are 64 hex digits from the client; anything much longer is not one.
constexpr size_t kMaxSecret = 256;
// A relay test token is 8 hex digits; a longer one is cut so a PONG stays small.
constexpr size_t kMaxToken = 64;

// Unpinned IDs stay reserved for their PC this long after it goes offline.
constexpr double kLeaseSeconds = 24 * 3600;
constexpr size_t kMaxLeases = 200000;
// Leases one address may hold: twice the sessions it may have at once
// (each PC's ID and the one it had before), so that ID churn from one
// address cannot push out the leases of everyone else.
constexpr size_t kLeasesPerAddress = 2048;

}  // namespace

Registration::Registration(HandlerContext& server, UnattendedGate& gate, uint16_t udpPort,
                           std::vector<uint16_t> tcpPorts, std::string serverName)
    : server_(server),
      gate_(gate),
      udpPort_(udpPort),
      tcpPorts_(std::move(tcpPorts)),
      serverName_(std::move(serverName)),
      started_(server.now()),
      ids_(kLeaseSeconds, kMaxLeases, kLeasesPerAddress),
      pinsPerAddress_(kPinsPerAddress, RateLimiter::kTrackedAddresses) {}

const Registrant& Registration::of(const ClientSession& session) const {
  static const Registrant kNone;
  auto it = clients_.find(session.serial);
  return it == clients_.end() ? kNone : it->second.shown;
}

void Registration::noteLanAndKey(const ClientSession& session, const std::string& ip, const std::string& port,
                                 const std::string& keyHex) {
  Registrant& shown = client(session).shown;
  uint32_t address = 0;
  if (parseIPv4(ip, address)) shown.lanIP = ip;
  uint16_t value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec == std::errc() && end == port.data() + port.size()) shown.lanPort = value;
  if (auto key = PlimoCrypto::fromHex(keyHex); key && key->size() == PlimoCrypto::kPublicKeySize) {
    shown.peerKeyHex = PlimoCrypto::hex(*key);
  }
}

Bytes Registration::secretHash(const std::string& secret) {
  // The secret is 256 random bits, so a plain hash cannot be searched back;
  // the prefix keeps the hash apart from any other use of SHA-256.
  return PlimoCrypto::sha256(toBytes("plimo id secret v1\n" + secret));
}

std::string Registration::uptimeText(double seconds) {
  auto s = uint64_t(seconds > 0 ? seconds : 0);
  if (s < 60) return std::to_string(s) + "s";
  if (s < 3600) return std::to_string(s / 60) + "m";
  if (s < 86400) return std::to_string(s / 3600) + "h" + std::to_string(s % 3600 / 60) + "m";
  return std::to_string(s / 86400) + "d" + std::to_string(s % 86400 / 3600) + "h";
}

bool Registration::isKept(const std::string& id) {
  // An ID whose entry cannot be read is not handed to anyone meanwhile.
  Result<std::optional<Bytes>> hash = server_.reads().pinHash(id);
  return !hash || hash->has_value();
}

bool Registration::isTaken(const std::string& id) {
  if (isKept(id)) return true;
  if (serverName_.empty()) return false;
  Result<std::optional<std::string>> on = server_.reads().presentOn(id, int64_t(server_.wallNow()));
  return !on || (on->has_value() && **on != serverName_);
}

void Registration::present(const std::string& id, const ClientSession& session) {
  if (serverName_.empty()) return;
  server_.writes().submit(
      [id, server = serverName_, address = session.endpoint.text(), when = int64_t(server_.wallNow())](
          ServerStore& store) { return store.setPresence(id, server, address, when); },
      [this, id](const Result<void>& written) {
        if (!written) server_.log("Cannot note the ID " + id + " online in the directory: " + written.error());
      });
}

void Registration::absent(const std::string& id) {
  if (serverName_.empty()) return;
  server_.writes().submit([id, server = serverName_](ServerStore& store) { return store.dropPresence(id, server); },
                          [this, id](const Result<void>& written) {
                            if (!written) {
                              server_.log("Cannot note the ID " + id + " offline in the directory: " +
                                          written.error());
                            }
                          });
}

void Registration::assign(const ClientSession& session, const std::string& id) {
  Registrant& shown = client(session).shown;
  if (!shown.id.empty()) {
    ids_.takeOffline(shown.id, server_.now(), session.endpoint.ip);
    absent(shown.id);
  }
  shown.id = id;
  ids_.bringOnline(id, session.serial);
  present(id, session);
}

void Registration::sayID(const ClientSession& session) {
  const Registrant& shown = of(session);
  if (shown.pinned) {
    server_.say(session, "ID " + shown.id + " pinned");
  } else {
    auto lease = int64_t(std::lround(ids_.leaseSeconds()));
    server_.say(session, "ID " + shown.id + " " + std::to_string(lease));
  }
}

void Registration::hello(const ClientSession& session, const std::vector<std::string>& words) {
  // HELLO id lanIP lanPort key relayIP unattended; the server needs the
  // address and key (for PEER lines) and the ID.
  if (Client& c = client(session); c.rekeyed) {
    c.rekeyed = false;
    // A client that lost its server session names its ID again; one that
    // does not is another client (a restart, a NAT handing the address to
    // another PC) and gets nothing of the earlier one. A kept ID needs its
    // secret again whatever HELLO names: IDs are public.
    if (!c.shown.id.empty() && word(words, 1) != c.shown.id) {
      server_.forgetClient(session, "another client at its address");
    } else if (c.shown.pinned) {
      server_.forgetClient(session, "new keys at its address; its kept ID needs the secret again");
    }
  }
  noteLanAndKey(session, word(words, 2), word(words, 3), word(words, 4));
  Client& c = client(session);
  // Anything but "1" reads as a PC whose person is asked, as clients write it.
  c.shown.unattended = word(words, 6) == "1";
  if (c.shown.id.empty()) {
    std::string id = idFor(session, word(words, 1));
    if (id.empty()) {
      server_.say(session, "ERR BUSY");
      return;
    }
    assign(session, id);
    server_.log(session, "ID " + id + " online from " + session.endpoint.text());
  }
  if (c.shown.unattended) gate_.announced(session);
  sayID(session);
  if (!c.portsTold) {
    c.portsTold = true;
    server_.say(session, "PORTS " + std::to_string(udpPort_) + " " + serverPortsText(tcpPorts_));
  }
}

std::string Registration::idFor(const ClientSession& session, const std::string& wanted) {
  double now = server_.now();
  if (IdRegistry::isValid(wanted) && ids_.holder(wanted) == 0 && ids_.leased(wanted, now) &&
      ids_.leaseHolder(wanted) == session.endpoint.ip && !isTaken(wanted)) {
    return wanted;
  }
  return ids_.allocate(now, [this](const std::string& i) { return isTaken(i); });
}

void Registration::pin(const ClientSession& session, const std::vector<std::string>& words) {
  double now = server_.now();
  Client& c = client(session);
  // NOT_READY: the client asks again after its next ID reply.
  if (c.shown.id.empty() || !c.pins.take(now, kPinsPerSession) ||
      !pinsPerAddress_.allow(session.endpoint.ip, now)) {
    server_.say(session, "ERR PIN NOT_READY");
    return;
  }
  const std::string& id = word(words, 1);
  const std::string& secret = word(words, 2);
  if (!IdRegistry::isValid(id) || secret.empty() || secret.size() > kMaxSecret) {
    server_.say(session, "ERR PIN BAD_REQUEST");
    return;
  }
  // The stored secret is checked and the pin written in one job, in order
  // with every other write, so that two PINs cannot both pass the check.
  PinRequest request{session.serial, c.shown.id, id, secretHash(secret), heldByLiveSession(id, session),
                     serverName_};
  auto when = int64_t(server_.wallNow());
  if (!server_.writeBeforeNextLines(
          session, [request, when](ServerStore& store) { return keep(store, request, when); },
          [this, request](const PinResult& result) { pinKept(request, result); })) {
    server_.say(session, "ERR PIN NOT_READY");
  }
}

Registration::PinResult Registration::keep(ServerStore& store, const PinRequest& request, int64_t when) {
  Result<std::optional<Bytes>> read = store.pinHash(request.id);
  if (!read) return {PinResult::notReady, read.error()};
  const std::optional<Bytes>& stored = *read;
  const Bytes& hash = request.hash;
  if (stored && (stored->size() != hash.size() || CRYPTO_memcmp(stored->data(), hash.data(), hash.size()) != 0)) {
    return {PinResult::taken, {}};
  }
  // Without a stored secret only the session's own ID may be kept: an ID
  // that is offline now still belongs to the PC that had it.
  if (request.id != request.ownID && !stored) return {PinResult::taken, {}};
  if (request.heldByLiveSession) return {PinResult::notReady, {}};
  // Online on another live server of the fleet: its PC may still be there.
  // Once that server stops beating, the ID is free to move here.
  if (!request.server.empty()) {
    Result<std::optional<std::string>> on = store.presentOn(request.id, when);
    if (!on) return {PinResult::notReady, on.error()};
    if (on->has_value() && **on != request.server) return {PinResult::notReady, {}};
  }
  // A database that cannot be written now may be later; any other answer
  // would make the client give up keeping its ID for good.
  if (auto kept = store.setPin(request.id, hash, when); !kept) return {PinResult::notReady, kept.error()};
  return {PinResult::kept, {}};
}

bool Registration::heldByLiveSession(const std::string& id, const ClientSession& asker) {
  if (id == of(asker).id) return false;
  uint64_t serial = ids_.holder(id);
  const ClientSession* holder = serial ? server_.session(serial) : nullptr;
  return holder && server_.now() - holder->lastRx < kTakeoverSilence;
}

void Registration::pinKept(const PinRequest& request, const PinResult& result) {
  if (!result.error.empty()) server_.log("Cannot keep the ID " + request.id + ": " + result.error);
  // The asker may have left, or become another client, while the job ran.
  const ClientSession* asker = server_.session(request.serial);
  if (!asker || of(*asker).id != request.ownID) return;
  const ClientSession& session = *asker;
  if (result.outcome != PinResult::kept || heldByLiveSession(request.id, session)) {
    server_.say(session, result.outcome == PinResult::taken ? "ERR PIN TAKEN" : "ERR PIN NOT_READY");
    return;
  }
  const std::string& id = request.id;
  uint64_t holderSerial = id != of(session).id ? ids_.holder(id) : 0;
  const ClientSession* holder = holderSerial ? server_.session(holderSerial) : nullptr;
  if (holder) {
    // The same PC's earlier session, silent: it gets a new ID in case it lives.
    std::string fresh = ids_.allocate(server_.now(), [this](const std::string& i) { return isTaken(i); });
    Registrant& was = client(*holder).shown;
    was.pinned = false;
    was.id.clear();
    if (!fresh.empty()) {
      assign(*holder, fresh);
      sayID(*holder);
    }
  }
  if (id != of(session).id) {
    server_.log(session,
                "ID " + of(session).id + " becomes its kept ID " + id + " (" + session.endpoint.text() + ")");
    assign(session, id);
  }
  client(session).shown.pinned = true;
  server_.say(session, "PIN OK " + id);
  sayID(session);
}

void Registration::unpin(const ClientSession& session) {
  const Registrant& shown = of(session);
  if (shown.id.empty()) return;
  if (!shown.pinned) {
    sayID(session);
    return;
  }
  // Answered once the pin is gone; while the store is busy, with the ID as
  // it stands, still kept (the client shows it so and may unpin again).
  if (!server_.writeBeforeNextLines(
          session,
          [id = shown.id](ServerStore& store) { return store.removePin(id); },
          [this, serial = session.serial, id = shown.id](const Result<void>& removed) {
            if (!removed) server_.log("Cannot forget the kept ID " + id + ": " + removed.error());
            const ClientSession* asker = server_.session(serial);
            if (!asker || of(*asker).id != id) return;
            client(*asker).shown.pinned = false;
            sayID(*asker);
          })) {
    sayID(session);
  }
}

void Registration::ping(const ClientSession& session, const std::vector<std::string>& words) {
  if (words.size() < 2 || words[1].empty()) return;
  std::string token = words[1].substr(0, kMaxToken);
  server_.say(session, "PONG " + token + " " + PLIMO_VERSION + " " + std::to_string(ids_.onlineCount()) + " " +
                           uptimeText(server_.now() - started_));
}

void Registration::sessionEnded(const ClientSession& session, const std::string& why) {
  auto it = clients_.find(session.serial);
  if (it == clients_.end()) return;
  Client& c = it->second;
  c.portsTold = false;
  if (c.shown.id.empty()) return;
  if (ids_.holder(c.shown.id) == session.serial) {
    ids_.takeOffline(c.shown.id, server_.now(), session.endpoint.ip);
    absent(c.shown.id);
  }
  server_.log(session, "ID " + c.shown.id + " offline: " + why);
  c.shown.id.clear();
  c.shown.pinned = false;
}

}  // namespace plimo
