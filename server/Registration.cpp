#include "server/Registration.h"

#include <openssl/crypto.h>

#include <cmath>

#include "protocol/crypto/PlimoCrypto.h"
#include "server/RelayServer.h"
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

}  // namespace

Registration::Registration(RelayServer& server)
    : server_(server), pinsPerAddress_(kPinsPerAddress, RelayServer::kTrackedAddresses) {}

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

void Registration::assign(ClientSession& session, const std::string& id) {
  IdRegistry& ids = server_.ids();
  if (!session.id.empty()) ids.takeOffline(session.id, server_.loop().now(), session.endpoint.ip);
  session.id = id;
  ids.bringOnline(id, session.serial);
}

void Registration::sayID(ClientSession& session) {
  if (session.pinned) {
    server_.say(session, "ID " + session.id + " pinned");
  } else {
    auto lease = int64_t(std::lround(server_.ids().leaseSeconds()));
    server_.say(session, "ID " + session.id + " " + std::to_string(lease));
  }
}

void Registration::hello(ClientSession& session, const std::vector<std::string>& words) {
  // HELLO id lanIP lanPort key relayIP unattended; the server needs the
  // address and key (for PEER lines) and the ID.
  if (session.rekeyed) {
    session.rekeyed = false;
    // A client that lost its server session names its ID again; one that
    // does not is another client (a restart, a NAT handing the address to
    // another PC) and gets nothing of the earlier one. A kept ID needs its
    // secret again whatever HELLO names: IDs are public.
    if (!session.id.empty() && word(words, 1) != session.id) {
      server_.forgetClient(session, "another client at its address");
    } else if (session.pinned) {
      server_.forgetClient(session, "new keys at its address; its kept ID needs the secret again");
    }
  }
  session.noteLanAndKey(word(words, 2), word(words, 3), word(words, 4));
  // Anything but "1" reads as a PC whose person is asked, as clients write it.
  session.unattended = word(words, 6) == "1";
  if (session.id.empty()) {
    std::string id = idFor(session, word(words, 1));
    if (id.empty()) {
      server_.say(session, "ERR BUSY");
      return;
    }
    assign(session, id);
    server_.log(session, "ID " + id + " online from " + session.endpoint.text());
  }
  if (session.unattended) server_.unattendedGate().announced(session);
  sayID(session);
  if (portsTold_.insert(session.serial).second) {
    server_.say(session, "PORTS " + std::to_string(server_.config().udpPort) + " " +
                             serverPortsText(server_.config().tcpPorts));
  }
}

std::string Registration::idFor(const ClientSession& session, const std::string& wanted) {
  IdRegistry& ids = server_.ids();
  double now = server_.loop().now();
  if (IdRegistry::isValid(wanted) && ids.holder(wanted) == 0 && ids.leased(wanted, now) &&
      ids.leaseHolder(wanted) == session.endpoint.ip && !isKept(wanted)) {
    return wanted;
  }
  return ids.allocate(now, [this](const std::string& i) { return isKept(i); });
}

void Registration::pin(ClientSession& session, const std::vector<std::string>& words) {
  double now = server_.loop().now();
  // NOT_READY: the client asks again after its next ID reply.
  if (session.id.empty() || !pinBudgets_[session.serial].take(now, kPinsPerSession) ||
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
  PinRequest request{session.serial, session.id, id, secretHash(secret), heldByLiveSession(id, session)};
  auto when = int64_t(server_.loop().wallNow());
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
  // A database that cannot be written now may be later; any other answer
  // would make the client give up keeping its ID for good.
  if (auto kept = store.setPin(request.id, hash, when); !kept) return {PinResult::notReady, kept.error()};
  return {PinResult::kept, {}};
}

bool Registration::heldByLiveSession(const std::string& id, const ClientSession& asker) {
  if (id == asker.id) return false;
  uint64_t serial = server_.ids().holder(id);
  const ClientSession* holder = serial ? server_.sessions().find(serial) : nullptr;
  return holder && server_.loop().now() - holder->lastRx < kTakeoverSilence;
}

void Registration::pinKept(const PinRequest& request, const PinResult& result) {
  if (!result.error.empty()) server_.log("Cannot keep the ID " + request.id + ": " + result.error);
  // The asker may have left, or become another client, while the job ran.
  ClientSession* asker = server_.sessions().find(request.serial);
  if (!asker || asker->id != request.ownID) return;
  ClientSession& session = *asker;
  if (result.outcome != PinResult::kept || heldByLiveSession(request.id, session)) {
    server_.say(session, result.outcome == PinResult::taken ? "ERR PIN TAKEN" : "ERR PIN NOT_READY");
    return;
  }
  const std::string& id = request.id;
  uint64_t holderSerial = id != session.id ? server_.ids().holder(id) : 0;
  ClientSession* holder = holderSerial ? server_.sessions().find(holderSerial) : nullptr;
  if (holder) {
    // The same PC's earlier session, silent: it gets a new ID in case it lives.
    std::string fresh =
        server_.ids().allocate(server_.loop().now(), [this](const std::string& i) { return isKept(i); });
    holder->pinned = false;
    holder->id.clear();
    if (!fresh.empty()) {
      assign(*holder, fresh);
      sayID(*holder);
    }
  }
  if (id != session.id) {
    server_.log(session, "ID " + session.id + " becomes its kept ID " + id + " (" + session.endpoint.text() + ")");
    assign(session, id);
  }
  session.pinned = true;
  server_.say(session, "PIN OK " + id);
  sayID(session);
}

void Registration::unpin(ClientSession& session) {
  if (session.id.empty()) return;
  if (!session.pinned) {
    sayID(session);
    return;
  }
  // Answered once the pin is gone; while the store is busy, with the ID as
  // it stands, still kept (the client shows it so and may unpin again).
  if (!server_.writeBeforeNextLines(
          session,
          [id = session.id](ServerStore& store) { return store.removePin(id); },
          [this, serial = session.serial, id = session.id](const Result<void>& removed) {
            if (!removed) server_.log("Cannot forget the kept ID " + id + ": " + removed.error());
            ClientSession* asker = server_.sessions().find(serial);
            if (!asker || asker->id != id) return;
            asker->pinned = false;
            sayID(*asker);
          })) {
    sayID(session);
  }
}

void Registration::ping(ClientSession& session, const std::vector<std::string>& words) {
  if (words.size() < 2 || words[1].empty()) return;
  std::string token = words[1].substr(0, kMaxToken);
  server_.say(session, "PONG " + token + " " + PLIMO_VERSION + " " +
                           std::to_string(server_.ids().onlineCount()) + " " +
                           uptimeText(server_.uptime()));
}

void Registration::sessionEnded(ClientSession& session) {
  portsTold_.erase(session.serial);
  if (session.id.empty()) return;
  if (server_.ids().holder(session.id) == session.serial) {
    server_.ids().takeOffline(session.id, server_.loop().now(), session.endpoint.ip);
  }
}

}  // namespace plimo
