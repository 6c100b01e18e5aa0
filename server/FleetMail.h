#pragma once
// How a server of a fleet reaches another one's FleetIntroductions: a text
// line to the channel of a server named in the store's directory (PgFleetMail
// over PostgreSQL's NOTIFY; tests pass the lines by hand).
//
// One thread (the server loop) calls it.

#include <string>

namespace plimo {

class FleetMail {
 public:
  // Lost, not retried, when the store cannot be reached: the asking side's
  // wait runs out and its helper hears that the ID is not online.
  virtual void send(const std::string& server, const std::string& line) = 0;

 protected:
  ~FleetMail() = default;
};

}  // namespace plimo
