#pragma once
// One connection to the session bus through sd-bus, for the desktop's
// screen-sharing interfaces: method calls, fire-and-forget input calls, and
// signals. sd-bus objects are not thread-safe, so every use goes through the
// one lock: calls and waits while a share starts, then only sends from the
// session's thread while `watch` reads signals on a thread of its own.
//
// Owner: a desktop share (MutterShare, PortalShare).

#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace plimo {

struct BusMessageFree {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using BusMessage = std::unique_ptr<sd_bus_message, BusMessageFree>;

// One entry of an a{sv} dictionary: the options the desktop's calls take.
using BusOption = std::pair<std::string, std::variant<uint32_t, bool, std::string>>;

class Bus {
 public:
  // Throws Failure(noServer) when there is no session bus.
  Bus();
  ~Bus();
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  bool hasName(const std::string& name);
  // Our unique name, as portals put it into request paths (":1.42").
  std::string uniqueName();

  // A method call message to fill (sd_bus_message_append) and pass to call
  // or send.
  BusMessage method(const std::string& service, const std::string& path, const std::string& interface,
                    const std::string& member);
  // Waits for the reply; throws Failure(unsupported) with the bus's error.
  BusMessage call(BusMessage message);
  // Without waiting for a reply (input).
  void send(BusMessage message);
  // Reads a property; throws as `call` does.
  BusMessage property(const std::string& service, const std::string& path, const std::string& interface,
                      const std::string& name);

  // Calls `onSignal` for each matching signal from now on (until the bus
  // goes), on whichever thread processes the bus.
  void subscribe(const std::string& path, const std::string& interface, const std::string& member,
                 std::function<void(sd_bus_message*)> onSignal);
  // Calls `onGone` when the service `name` leaves the bus (the desktop
  // ended), on the thread that processes the bus.
  void watchName(const std::string& name, std::function<void()> onGone);
  // Processes the bus until `done` or the deadline; false at the deadline,
  // when the bus closed or once cancelled.
  bool processUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);
  // From any thread, without the lock: a wait in processUntil ends now, and
  // every later one at once.
  void cancel();
  // From now on a thread of its own processes the bus (signals).
  void watch();

 private:
  void watchLoop();

  std::mutex lock_;
  sd_bus* bus_ = nullptr;
  std::vector<sd_bus_slot*> slots_;
  std::vector<std::unique_ptr<std::function<void(sd_bus_message*)>>> handlers_;
  int stopFd_ = -1;
  std::thread watcher_;
};

// Appends `options` as a{sv}.
void appendOptions(sd_bus_message* message, const std::vector<BusOption>& options);

// Walks an a{sv} the message's read position is at: each key with a reader
// has it read its value (the variant entered, a negative errno when the
// value is not what it expects); the others are skipped. False when the
// message is malformed.
using OptionReaders = std::vector<std::pair<std::string, std::function<int(sd_bus_message*)>>>;
bool readOptions(sd_bus_message* message, const OptionReaders& readers);

}  // namespace plimo
