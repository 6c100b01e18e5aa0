#pragma once
// An in-memory datagram link between two ends, a and b, on an event loop
// (virtual time in the unit tests, real time beside windows): each
// packet takes a fixed one-way delay, and may be dropped, duplicated or held
// back (so that later packets overtake it) at chosen rates, from a seeded
// generator so that every run is the same.
//
// Deliveries happen inside one repeating timer of the loop (so the loop always
// has that timer pending), in time order; a receiver may send from inside its
// callback. Destroy the link before the loop, and before anything its
// receivers use.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"

namespace plimo::testkit {

class LossyLink {
 public:
  enum class End { a, b };

  struct Options {
    double drop = 0.0;       // probability that a packet is lost
    double duplicate = 0.0;  // probability that it arrives twice
    double reorder = 0.0;    // probability that it is held back
    double delay = 0.010;    // one-way delay, seconds
    double holdBack = 0.015; // extra delay of a held-back packet, up to this
    uint32_t seed = 1;
    double tick = 0.0005;    // delivery resolution (taken at construction)
  };

  struct Stats {
    size_t sent = 0, dropped = 0, duplicated = 0, reordered = 0, delivered = 0;
  };

  using Receiver = std::function<void(ByteView)>;
  // Sees every packet offered to the link and may veto it (return false to
  // drop it on purpose, beside the random losses).
  using Filter = std::function<bool(End from, ByteView)>;

  LossyLink(EventLoop& loop, Options options)
      : loop_(loop), options_(options), rng_(options.seed),
        pump_(loop.every(options.tick, [this] { deliverDue(); })) {}

  // New rates and delays for packets sent from now on (a blackout is
  // drop = 1); packets already on their way keep their arrival time.
  void setOptions(Options options) { options_ = options; }
  const Options& options() const { return options_; }

  void setReceiver(End at, Receiver receiver) { (at == End::a ? toA_ : toB_) = std::move(receiver); }
  void setFilter(Filter filter) { filter_ = std::move(filter); }
  // A notice of every packet lost on the way (random or vetoed), before it is gone.
  void setOnDrop(std::function<void(End from, ByteView)> onDrop) { onDrop_ = std::move(onDrop); }

  void send(End from, ByteView packet) {
    Stats& s = mutableStats(from);
    ++s.sent;
    const bool vetoed = filter_ && !filter_(from, packet);
    if (vetoed || chance(options_.drop)) {
      ++s.dropped;
      if (onDrop_) onDrop_(from, packet);
      return;
    }
    const int copies = chance(options_.duplicate) ? 2 : 1;
    if (copies == 2) ++s.duplicated;
    for (int i = 0; i < copies; ++i) {
      double at = loop_.now() + options_.delay;
      if (chance(options_.reorder)) {
        ++s.reordered;
        at += options_.holdBack * unit_(rng_);
      }
      queue_.emplace(std::make_pair(at, order_++), Flight{from == End::a ? End::b : End::a, Bytes(packet.begin(), packet.end())});
    }
  }
  void send(End from, const std::vector<Bytes>& packets) {
    for (const Bytes& p : packets) send(from, p);
  }

  const Stats& stats(End from) const { return from == End::a ? fromA_ : fromB_; }
  size_t inFlight() const { return queue_.size(); }

 private:
  struct Flight {
    End to;
    Bytes packet;
  };

  Stats& mutableStats(End from) { return from == End::a ? fromA_ : fromB_; }
  bool chance(double p) { return p > 0 && unit_(rng_) < p; }

  void deliverDue() {
    while (!queue_.empty() && queue_.begin()->first.first <= loop_.now()) {
      Flight f = std::move(queue_.begin()->second);
      queue_.erase(queue_.begin());
      ++mutableStats(f.to == End::a ? End::b : End::a).delivered;
      const Receiver& r = f.to == End::a ? toA_ : toB_;
      if (r) r(f.packet);
    }
  }

  EventLoop& loop_;
  Options options_;
  std::mt19937 rng_;
  std::uniform_real_distribution<double> unit_{0.0, 1.0};
  std::map<std::pair<double, uint64_t>, Flight> queue_;
  uint64_t order_ = 0;
  Receiver toA_, toB_;
  Filter filter_;
  std::function<void(End, ByteView)> onDrop_;
  Stats fromA_, fromB_;
  Timer pump_;
};

}  // namespace plimo::testkit
