#include "server/FleetRelay.h"

#include <charconv>
#include <utility>

#include "core/Failure.h"
#include "core/Text.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "server/FleetLine.h"
#include "server/PresenceStore.h"

namespace plimo {

namespace {

uint64_t senderOf(ByteView relayKey) { return readBE<uint64_t>(PlimoCrypto::sha256(relayKey), 0); }

// "ip:port" as announced; nothing for anything else.
std::optional<Endpoint> parseAddress(const std::string& text) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  uint32_t ip = 0;
  uint16_t port = 0;
  const char* end = text.data() + text.size();
  auto [at, ec] = std::from_chars(text.data() + colon + 1, end, port);
  if (!parseIPv4(text.substr(0, colon), ip) || ec != std::errc() || at != end || port == 0) return std::nullopt;
  return Endpoint::udp(ip, port);
}

}  // namespace

FleetRelay::FleetRelay(HandlerContext& server, const SigningKey& fleetKey, std::string self, Deliver deliver)
    : server_(server),
      self_(std::move(self)),
      deliver_(std::move(deliver)),
      signer_(fleetKey),
      sender_(senderOf(key_.publicKey())) {}

Bytes FleetRelay::announcement(const std::string& server, const std::string& address, ByteView relayKey) {
  Bytes text = toBytes("PLIMO-FLEET-RELAY-KEY-V1");
  for (const std::string* part : {&server, &address}) {
    append(text, toBytes(*part));
    text.push_back(0);
  }
  append(text, relayKey);
  return text;
}

void FleetRelay::open(PacketSink& sink, const std::string& address) {
  sink_ = &sink;
  address_ = address;
  Bytes signed_ = key_.publicKey();
  append(signed_, signer_.sign(announcement(self_, address, key_.publicKey())));
  announced_ = PlimoCrypto::hex(signed_);
}

std::shared_ptr<SecureChannel> FleetRelay::pairChannel(ByteView peerKey) const {
  Bytes secret;
  try {
    secret = key_.sharedSecret(peerKey);
  } catch (const Failure&) {
    return nullptr;  // not a point on the curve
  }
  // Its own label: a pair key is never a partner session's.
  Bytes pair = PlimoCrypto::hkdf(toBytes("plimo fleet relay v1"), secret, {}, PlimoCrypto::kKeySize);
  PlimoCrypto::PeerKeys keys = PlimoCrypto::derivePeerKeys(pair, key_.publicKey(), peerKey);
  return std::make_shared<SecureChannel>(FleetPacket::kType, keys.send, keys.recv, keys.sendLabel, keys.recvLabel);
}

std::vector<std::string> FleetRelay::refresh() {
  update();
  return std::exchange(lost_, {});
}

void FleetRelay::update() {
  if (!opened()) return;
  auto servers = server_.reads().servers();
  if (!servers) return;  // the store is away: what is known stays
  lastLookup_ = server_.now();
  int64_t liveSince = int64_t(server_.wallNow()) - server_.reads().staleAfter();
  std::unordered_map<std::string, Peer> fresh;
  read_ = true;
  live_.clear();
  for (const PresenceStore::Server& s : *servers) {
    if (s.name == self_ || s.heartbeat < liveSince || !FleetLine::validServerName(s.name)) continue;
    live_.insert(s.name);
    if (auto known = peers_.find(s.name); known != peers_.end() && known->second.announced == s.relayKey + s.relay) {
      fresh.emplace(s.name, known->second);
      continue;
    }
    std::optional<Endpoint> address = parseAddress(s.relay);
    std::optional<Bytes> announced = PlimoCrypto::fromHex(s.relayKey);
    if (!address || !announced || announced->size() != PlimoCrypto::kPublicKeySize + PlimoCrypto::kSignatureSize) {
      continue;  // a server that relays to no one (an older one, or one without a fleet port)
    }
    ByteView key = ByteView(*announced).first(PlimoCrypto::kPublicKeySize);
    ByteView signature = ByteView(*announced).subspan(PlimoCrypto::kPublicKeySize);
    std::shared_ptr<SecureChannel> channel;
    if (verifyEcdsa(signer_.publicKey(), announcement(s.name, s.relay, key), signature)) channel = pairChannel(key);
    if (!channel) {
      if (rejected_[s.name] != s.relayKey + s.relay) {
        server_.log("The relay key of server " + printable(s.name) +
                    " in the directory is not signed with the fleet's key: nothing is relayed to or from it");
      }
      rejected_[s.name] = s.relayKey + s.relay;
      continue;
    }
    fresh.emplace(s.name, Peer{s.relayKey + s.relay, *address, senderOf(key), channel});
  }
  for (const auto& [name, peer] : peers_) {
    auto now = fresh.find(name);
    if (now == fresh.end() || now->second.channel != peer.channel) lost_.push_back(name);
  }
  peers_ = std::move(fresh);
  senders_.clear();
  for (const auto& [name, peer] : peers_) senders_[peer.sender] = name;
}

void FleetRelay::lookUp() {
  if (server_.now() - lastLookup_ < kLookupEvery) return;
  // A failed read waits its turn too.
  lastLookup_ = server_.now();
  update();
}

void FleetRelay::know(const std::string& server) {
  if (opened() && !peers_.count(server)) lookUp();
}

bool FleetRelay::send(const std::string& server, const FleetPacket& packet) {
  if (!opened()) return false;
  auto peer = peers_.find(server);
  if (peer == peers_.end()) {
    lookUp();
    peer = peers_.find(server);
    if (peer == peers_.end()) return false;
  }
  Bytes datagram;
  appendBE(datagram, sender_);
  append(datagram, peer->second.channel->seal(packet.plain()));
  sink_->send(peer->second.address, datagram, true);
  ++stats_.sent;
  return true;
}

void FleetRelay::received(const Endpoint& from, ByteView datagram) {
  if (!opened()) return;
  if (datagram.size() < FleetPacket::kOverhead) return drop(from, "too short");
  uint64_t sender = readBE<uint64_t>(datagram, 0);
  auto name = senders_.find(sender);
  if (name == senders_.end()) {
    lookUp();
    name = senders_.find(sender);
    if (name == senders_.end()) return drop(from, "under a key no live server of the fleet announced");
  }
  const std::string server = name->second;
  std::optional<Bytes> plain = peers_.at(server).channel->open(datagram.subspan(FleetPacket::kSenderSize));
  if (!plain) return drop(from, "that does not open under server " + server + "'s pair key (forged, or a replay)");
  std::optional<FleetPacket> packet = FleetPacket::parse(*plain);
  if (!packet) return drop(from, "from server " + server + " that is no fleet packet");
  if (!deliver_(server, *packet)) {
    return drop(from, "from server " + server + " for ID " + packet->toID + ", in no session with ID " +
                          packet->fromID + " there");
  }
  ++stats_.received;
}

void FleetRelay::drop(const Endpoint& from, const std::string& why) {
  ++stats_.dropped;
  server_.logFrom(from.ip, "Dropped a datagram on the fleet port from " + from.text() + ", " + why);
}

}  // namespace plimo
