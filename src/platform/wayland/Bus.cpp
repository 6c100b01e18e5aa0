#include "platform/wayland/Bus.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "core/Failure.h"

namespace plimo {

namespace {

// A call that waits longer than this is given up (the desktop hangs).
constexpr uint64_t kCallTimeoutUs = 10'000'000;

Failure busFailure(const std::string& what, int error, const sd_bus_error* busError = nullptr) {
  std::string text = what + ": ";
  text += busError && busError->message ? busError->message : strerror(-error);
  return Failure(Failure::Kind::unsupported, text, error);
}

int onMessage(sd_bus_message* message, void* data, sd_bus_error*) {
  (*static_cast<std::function<void(sd_bus_message*)>*>(data))(message);
  return 0;
}

}  // namespace

Bus::Bus() {
  int r = sd_bus_open_user(&bus_);
  if (r < 0) throw Failure(Failure::Kind::noServer, "The session bus cannot be reached", r);
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Bus::~Bus() {
  if (watcher_.joinable()) {
    cancel();
    watcher_.join();
  }
  for (sd_bus_slot* slot : slots_) sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(bus_);
  if (stopFd_ >= 0) close(stopFd_);
}

bool Bus::hasName(const std::string& name) {
  auto m = method("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner");
  sd_bus_message_append(m.get(), "s", name.c_str());
  try {
    auto reply = call(std::move(m));
    int has = 0;
    return sd_bus_message_read(reply.get(), "b", &has) >= 0 && has;
  } catch (const Failure&) {
    return false;
  }
}

std::string Bus::uniqueName() {
  std::lock_guard guard(lock_);
  const char* name = nullptr;
  sd_bus_get_unique_name(bus_, &name);
  return name ? name : "";
}

BusMessage Bus::method(const std::string& service, const std::string& path, const std::string& interface,
                       const std::string& member) {
  std::lock_guard guard(lock_);
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &m, service.c_str(), path.c_str(), interface.c_str(), member.c_str());
  if (r < 0) throw busFailure(member, r);
  return BusMessage(m);
}

BusMessage Bus::call(BusMessage message) {
  std::lock_guard guard(lock_);
  sd_bus_error error{};
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call(bus_, message.get(), kCallTimeoutUs, &error, &reply);
  if (r < 0) {
    Failure failure = busFailure(sd_bus_message_get_member(message.get()), r, &error);
    sd_bus_error_free(&error);
    throw failure;
  }
  return BusMessage(reply);
}

void Bus::send(BusMessage message) {
  std::lock_guard guard(lock_);
  // Asking for a reply that nobody waits for (the watcher drops it): mutter
  // 43 ignores calls flagged as wanting none.
  sd_bus_send(bus_, message.get(), nullptr);
}

BusMessage Bus::property(const std::string& service, const std::string& path, const std::string& interface,
                         const std::string& name) {
  auto m = method(service, path, "org.freedesktop.DBus.Properties", "Get");
  sd_bus_message_append(m.get(), "ss", interface.c_str(), name.c_str());
  auto reply = call(std::move(m));
  if (sd_bus_message_enter_container(reply.get(), 'v', nullptr) < 0) throw busFailure(name, -EBADMSG);
  return reply;
}

void Bus::subscribe(const std::string& path, const std::string& interface, const std::string& member,
                    std::function<void(sd_bus_message*)> onSignal) {
  std::lock_guard guard(lock_);
  handlers_.push_back(std::make_unique<std::function<void(sd_bus_message*)>>(std::move(onSignal)));
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_match_signal(bus_, &slot, nullptr, path.c_str(), interface.c_str(), member.c_str(), onMessage,
                              handlers_.back().get());
  if (r < 0) throw busFailure("subscribe to " + member, r);
  slots_.push_back(slot);
}

void Bus::watchName(const std::string& name, std::function<void()> onGone) {
  std::lock_guard guard(lock_);
  handlers_.push_back(std::make_unique<std::function<void(sd_bus_message*)>>([onGone](sd_bus_message* m) {
    const char *service = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(m, "sss", &service, &before, &after) >= 0 && after && !*after) onGone();
  }));
  const std::string match = "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                            "member='NameOwnerChanged',arg0='" + name + "'";
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_add_match(bus_, &slot, match.c_str(), onMessage, handlers_.back().get());
  if (r < 0) throw busFailure("watch " + name, r);
  slots_.push_back(slot);
}

bool Bus::processUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline) {
  std::lock_guard guard(lock_);
  while (!done()) {
    int r = sd_bus_process(bus_, nullptr);
    if (r < 0) return false;
    if (r > 0) continue;
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    pollfd fds[2] = {{sd_bus_get_fd(bus_), short(sd_bus_get_events(bus_)), 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, int(std::min<int64_t>(ms, INT32_MAX))) < 0 && errno != EINTR) return false;
    if (fds[1].revents) return false;
  }
  return true;
}

void Bus::cancel() {
  uint64_t one = 1;
  [[maybe_unused]] auto n = write(stopFd_, &one, sizeof one);
}

void Bus::watch() {
  watcher_ = std::thread([this] { watchLoop(); });
}

void Bus::watchLoop() {
  pthread_setname_np(pthread_self(), "plimo.dbus");
  while (true) {
    pollfd fds[2] = {{-1, 0, 0}, {stopFd_, POLLIN, 0}};
    {
      std::lock_guard guard(lock_);
      int r;
      while ((r = sd_bus_process(bus_, nullptr)) > 0) {
      }
      if (r < 0) return;  // the bus closed: the share's own stream ends too
      fds[0].fd = sd_bus_get_fd(bus_);
      fds[0].events = short(sd_bus_get_events(bus_));
    }
    // Sends from the session's thread never read, so nothing waits unread
    // behind this poll.
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
  }
}

void appendOptions(sd_bus_message* m, const std::vector<BusOption>& options) {
  sd_bus_message_open_container(m, 'a', "{sv}");
  for (const auto& [key, value] : options) {
    sd_bus_message_open_container(m, 'e', "sv");
    sd_bus_message_append(m, "s", key.c_str());
    if (auto* u = std::get_if<uint32_t>(&value)) sd_bus_message_append(m, "v", "u", *u);
    if (auto* b = std::get_if<bool>(&value)) sd_bus_message_append(m, "v", "b", int(*b));
    if (auto* s = std::get_if<std::string>(&value)) sd_bus_message_append(m, "v", "s", s->c_str());
    sd_bus_message_close_container(m);
  }
  sd_bus_message_close_container(m);
}

bool readOptions(sd_bus_message* m, const OptionReaders& readers) {
  if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return false;
  int r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read(m, "s", &key) < 0) return false;
    const std::function<int(sd_bus_message*)>* reader = nullptr;
    for (const auto& [name, read] : readers)
      if (name == key) reader = &read;
    if (reader) {
      if (sd_bus_message_enter_container(m, 'v', nullptr) < 0) return false;
      // A value of another type than the reader's is skipped, not trusted.
      if ((*reader)(m) < 0 && sd_bus_message_skip(m, nullptr) < 0) return false;
      if (sd_bus_message_exit_container(m) < 0) return false;
    } else if (sd_bus_message_skip(m, "v") < 0) {
      return false;
    }
    if (sd_bus_message_exit_container(m) < 0) return false;
  }
  return r == 0 && sd_bus_message_exit_container(m) >= 0;
}

}  // namespace plimo
