#include "server/SessionTable.h"

#include <utility>

namespace plimo {

SessionTable::SessionTable(size_t confirmedCapacity, size_t unconfirmedCapacity)
    : confirmedCapacity_(confirmedCapacity ? confirmedCapacity : 1),
      unconfirmedCapacity_(unconfirmedCapacity ? unconfirmedCapacity : 1) {}

ClientSession* SessionTable::find(const Endpoint& endpoint) {
  return const_cast<ClientSession*>(std::as_const(*this).find(endpoint));
}

ClientSession* SessionTable::find(uint64_t serial) {
  return const_cast<ClientSession*>(std::as_const(*this).find(serial));
}

const ClientSession* SessionTable::find(const Endpoint& endpoint) const {
  auto it = byEndpoint_.find(endpoint);
  return it == byEndpoint_.end() ? nullptr : find(it->second);
}

const ClientSession* SessionTable::find(uint64_t serial) const {
  auto it = sessions_.find(serial);
  return it == sessions_.end() ? nullptr : it->second.get();
}

bool SessionTable::full(bool confirmed) const {
  return confirmed ? confirmed_.size() >= confirmedCapacity_
                   : unconfirmed_.size() >= unconfirmedCapacity_;
}

ClientSession* SessionTable::idlest(bool confirmed) {
  const auto& list = confirmed ? confirmed_ : unconfirmed_;
  return list.empty() ? nullptr : find(list.back());
}

ClientSession& SessionTable::add(const Endpoint& endpoint, double now) {
  auto session = std::make_unique<ClientSession>();
  session->serial = nextSerial_++;
  session->endpoint = endpoint;
  session->lastRx = now;
  unconfirmed_.push_front(session->serial);
  session->order = unconfirmed_.begin();
  byEndpoint_[endpoint] = session->serial;
  ++perAddress_[endpoint.ip];
  ClientSession& ref = *session;
  sessions_.emplace(session->serial, std::move(session));
  return ref;
}

void SessionTable::confirm(ClientSession& session) {
  if (session.confirmed) return;
  unconfirmed_.erase(session.order);
  session.confirmed = true;
  confirmed_.push_front(session.serial);
  session.order = confirmed_.begin();
}

void SessionTable::touch(ClientSession& session, double now) {
  session.lastRx = now;
  auto& list = listOf(session);
  list.splice(list.begin(), list, session.order);
}

void SessionTable::remove(uint64_t serial) {
  auto it = sessions_.find(serial);
  if (it == sessions_.end()) return;
  ClientSession& session = *it->second;
  listOf(session).erase(session.order);
  byEndpoint_.erase(session.endpoint);
  auto count = perAddress_.find(session.endpoint.ip);
  if (--count->second == 0) perAddress_.erase(count);
  sessions_.erase(it);
}

size_t SessionTable::countAt(uint32_t ip) const {
  auto it = perAddress_.find(ip);
  return it == perAddress_.end() ? 0 : it->second;
}

std::vector<uint64_t> SessionTable::silentSince(bool confirmed, double cutoff) const {
  const auto& list = confirmed ? confirmed_ : unconfirmed_;
  std::vector<uint64_t> silent;
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (sessions_.at(*it)->lastRx >= cutoff) break;
    silent.push_back(*it);
  }
  return silent;
}

}  // namespace plimo
