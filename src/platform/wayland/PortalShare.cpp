#include "platform/wayland/PortalShare.h"

#include <fcntl.h>

#include <cstdarg>

#include "core/Failure.h"

namespace plimo {

namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr auto kStepWait = std::chrono::seconds(10);

constexpr uint32_t kMonitors = 1;
constexpr uint32_t kKeyboardAndPointer = 3;
constexpr uint32_t kCursorEmbedded = 2, kCursorMetadata = 4;
constexpr uint32_t kPersistUntilRevoked = 2;

}  // namespace

std::string portalRefusal(int code, const std::string& step) {
  if (code == 1) return "sharing was not allowed in the desktop's dialog";
  if (code == 2) return "the desktop could not " + step;
  return "the desktop did not answer in time when asked to " + step;
}

bool PortalShare::available(Bus& bus) {
  if (bus.hasName(kPortal)) return true;
  // Not running yet but startable: the bus starts it on the first call.
  try {
    auto reply = bus.call(bus.method("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "ListActivatableNames"));
    const char* name = nullptr;
    if (sd_bus_message_enter_container(reply.get(), 'a', "s") <= 0) return false;
    while (sd_bus_message_read(reply.get(), "s", &name) > 0)
      if (std::string(name) == kPortal) return true;
  } catch (const Failure&) {
  }
  return false;
}

PortalShare::PortalShare(std::unique_ptr<Bus> bus, RestoreToken token)
    : bus_(std::move(bus)), requests_(*bus_), token_(std::move(token)) {}

PortalShare::~PortalShare() {
  closing_ = true;
  if (!session_.empty()) bus_->send(bus_->method(kPortal, session_, "org.freedesktop.portal.Session", "Close"));
}

PortalResponse PortalShare::ask(const std::string& interface, const std::string& member,
                                std::vector<BusOption> options, std::chrono::steady_clock::duration wait) {
  return requests_.ask(interface, member, [&](sd_bus_message* m, const std::string& handleToken) {
    if (!session_.empty()) sd_bus_message_append(m, "o", session_.c_str());
    if (member == "Start") sd_bus_message_append(m, "s", "");  // no parent window
    options.emplace_back("handle_token", handleToken);
    appendOptions(m, options);
  }, wait);
}

std::vector<DesktopShare::Stream> PortalShare::start() {
  auto refused = [](int code, const std::string& step) {
    return Failure(code == 1 ? Failure::Kind::noDisplay : Failure::Kind::unsupported, portalRefusal(code, step),
                   code);
  };
  const std::string sessionToken = requests_.token();
  auto created = ask(kRemoteDesktop, "CreateSession", {{"session_handle_token", sessionToken}}, kStepWait);
  if (created.code != 0) throw refused(created.code, "start a remote desktop session");
  std::string handle;
  readOptions(created.results.get(), {{"session_handle", [&](sd_bus_message* v) {
                                         const char* s = nullptr;
                                         int r = sd_bus_message_read(v, "s", &s);
                                         if (r < 0) r = sd_bus_message_read(v, "o", &s);
                                         if (r >= 0 && s) handle = s;
                                         return r;
                                       }}});
  if (handle.empty()) throw Failure(Failure::Kind::unsupported, "the desktop's portal gave no session");
  session_ = handle;
  bus_->subscribe(session_, "org.freedesktop.portal.Session", "Closed", [this](sd_bus_message*) {
    if (closing_) return;
    if (auto closed = onClosed) closed("the person at the PC stopped sharing the screen");
  });
  bus_->watchName(kPortal, [this] {
    if (closing_) return;
    if (auto closed = onClosed) closed("the desktop's portal ended");
  });

  uint32_t cursorModes = 0;
  try {
    auto modes = bus_->property(kPortal, kPortalPath, kScreenCast, "AvailableCursorModes");
    sd_bus_message_read(modes.get(), "u", &cursorModes);
  } catch (const Failure&) {
  }
  const std::vector<BusOption> sources = {
      {"types", kMonitors},
      {"multiple", true},
      {"cursor_mode", (cursorModes & kCursorMetadata) ? kCursorMetadata : kCursorEmbedded}};
  std::vector<BusOption> persisting = sources;
  persisting.emplace_back("persist_mode", kPersistUntilRevoked);
  if (auto kept = token_.take()) persisting.emplace_back("restore_token", *kept);
  PortalResponse selected;
  try {
    selected = ask(kScreenCast, "SelectSources", persisting, kStepWait);
  } catch (const Failure&) {
    // Portals before 1.17 refuse to keep a share that plays input ("Remote
    // desktop sessions cannot persist"): the person is asked each time.
    selected = ask(kScreenCast, "SelectSources", sources, kStepWait);
  }
  if (selected.code != 0) throw refused(selected.code, "offer the screen");
  auto devices = ask(kRemoteDesktop, "SelectDevices", {{"types", kKeyboardAndPointer}}, kStepWait);
  if (devices.code != 0) throw refused(devices.code, "offer the mouse and keyboard");

  auto started = ask(kRemoteDesktop, "Start", {}, kDialogWait);
  if (started.code != 0) throw refused(started.code, "share the screen");
  std::vector<Stream> streams;
  std::string newToken;
  bool wellFormed = readOptions(started.results.get(), {
      {"devices", [&](sd_bus_message* v) { return sd_bus_message_read(v, "u", &devices_); }},
      {"restore_token", [&](sd_bus_message* v) {
         const char* s = nullptr;
         int r = sd_bus_message_read(v, "s", &s);
         if (r >= 0 && s) newToken = s;
         return r;
       }},
      {"streams", [&](sd_bus_message* v) {
         int r = sd_bus_message_enter_container(v, 'a', "(ua{sv})");
         if (r < 0) return r;
         while (sd_bus_message_enter_container(v, 'r', "ua{sv}") > 0) {
           Stream stream;
           int x = 0, y = 0, w = 0, h = 0;
           if ((r = sd_bus_message_read(v, "u", &stream.node)) < 0) return r;
           if (!readOptions(v, {{"position", [&](sd_bus_message* p) { return sd_bus_message_read(p, "(ii)", &x, &y); }},
                                {"size", [&](sd_bus_message* p) { return sd_bus_message_read(p, "(ii)", &w, &h); }}}))
             return -EBADMSG;
           if ((r = sd_bus_message_exit_container(v)) < 0) return r;
           stream.display = {stream.node, {double(x), double(y), double(w), double(h)}, streams.empty()};
           stream.handle = std::to_string(stream.node);
           if (w > 0 && h > 0) streams.push_back(stream);
         }
         return sd_bus_message_exit_container(v);
       }}});
  token_.keep(newToken);
  if (!wellFormed || streams.empty()) throw Failure(Failure::Kind::noDisplay, "the desktop shared no screen");
  return streams;
}

int PortalShare::pipeWireFd() {
  auto m = bus_->method(kPortal, kPortalPath, kScreenCast, "OpenPipeWireRemote");
  sd_bus_message_append(m.get(), "o", session_.c_str());
  appendOptions(m.get(), {});
  auto reply = bus_->call(std::move(m));
  int fd = -1;
  if (sd_bus_message_read(reply.get(), "h", &fd) < 0 || fd < 0)
    throw Failure(Failure::Kind::unsupported, "the desktop's portal gave no PipeWire connection");
  // The message owns its descriptor.
  return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

void PortalShare::notify(const char* member, const char* types, ...) {
  auto m = bus_->method(kPortal, kPortalPath, kRemoteDesktop, member);
  sd_bus_message_append(m.get(), "o", session_.c_str());
  appendOptions(m.get(), {});
  va_list args;
  va_start(args, types);
  sd_bus_message_appendv(m.get(), types, args);
  va_end(args);
  bus_->send(std::move(m));
}

void PortalShare::pointerMotion(const Stream& stream, double x, double y) {
  if (devices_ & 2) notify("NotifyPointerMotionAbsolute", "udd", stream.node, x, y);
}

void PortalShare::pointerButton(int evdevCode, bool down) {
  if (devices_ & 2) notify("NotifyPointerButton", "iu", int32_t(evdevCode), uint32_t(down));
}

void PortalShare::pointerAxisDiscrete(int axis, int steps) {
  if (devices_ & 2) notify("NotifyPointerAxisDiscrete", "ui", uint32_t(axis), int32_t(steps));
}

void PortalShare::keysym(uint32_t keysym, bool down) {
  if (devices_ & 1) notify("NotifyKeyboardKeysym", "iu", int32_t(keysym), uint32_t(down));
}

}  // namespace plimo
