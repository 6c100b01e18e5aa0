#include "platform/wayland/MutterShare.h"

#include <cstdarg>
#include <map>

#include "core/Failure.h"

namespace plimo {

namespace {

constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kScreenCast = "org.gnome.Mutter.ScreenCast";
constexpr const char* kDisplayConfig = "org.gnome.Mutter.DisplayConfig";
constexpr auto kStreamWait = std::chrono::seconds(5);

// Stable for as long as the connector exists, as Display ids must be.
uint32_t connectorId(const std::string& connector) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : connector) hash = (hash ^ c) * 16777619u;
  return hash;
}

std::string readPath(BusMessage reply) {
  const char* path = nullptr;
  if (sd_bus_message_read(reply.get(), "o", &path) < 0 || !path)
    throw Failure(Failure::Kind::unsupported, "GNOME's remote desktop answered with no session");
  return path;
}

struct MonitorMode {
  int width = 0, height = 0;
};

// The current mode of each monitor in GetCurrentState's monitor list.
bool readMonitorModes(sd_bus_message* m, std::map<std::string, MonitorMode>& modes) {
  if (sd_bus_message_enter_container(m, 'a', "((ssss)a(siiddada{sv})a{sv})") <= 0) return false;
  while (sd_bus_message_enter_container(m, 'r', "(ssss)a(siiddada{sv})a{sv}") > 0) {
    const char *connector, *vendor, *product, *serial;
    if (sd_bus_message_read(m, "(ssss)", &connector, &vendor, &product, &serial) < 0) return false;
    if (sd_bus_message_enter_container(m, 'a', "(siiddada{sv})") <= 0) return false;
    while (sd_bus_message_enter_container(m, 'r', "siiddada{sv}") > 0) {
      const char* id;
      int width = 0, height = 0;
      double rate, preferredScale;
      if (sd_bus_message_read(m, "siidd", &id, &width, &height, &rate, &preferredScale) < 0) return false;
      if (sd_bus_message_skip(m, "ad") < 0) return false;
      int current = 0;
      if (!readOptions(m, {{"is-current", [&](sd_bus_message* v) { return sd_bus_message_read(v, "b", &current); }}}))
        return false;
      if (current) modes[connector] = {width, height};
      if (sd_bus_message_exit_container(m) < 0) return false;
    }
    if (sd_bus_message_exit_container(m) < 0 || sd_bus_message_skip(m, "a{sv}") < 0) return false;
    if (sd_bus_message_exit_container(m) < 0) return false;
  }
  return sd_bus_message_exit_container(m) >= 0;
}


// Each logical monitor with the connector RecordMonitor names it by.
std::vector<std::pair<std::string, Display>> connectors(Bus& bus) {
  std::vector<std::pair<std::string, Display>> screens;
  try {
    auto reply = bus.call(bus.method(kDisplayConfig, "/org/gnome/Mutter/DisplayConfig", kDisplayConfig,
                                     "GetCurrentState"));
    sd_bus_message* m = reply.get();
    uint32_t serial = 0;
    std::map<std::string, MonitorMode> modes;
    if (sd_bus_message_read(m, "u", &serial) < 0 || !readMonitorModes(m, modes)) return {};
    if (sd_bus_message_enter_container(m, 'a', "(iiduba(ssss)a{sv})") <= 0) return {};
    std::vector<std::pair<std::string, Display>> logical;
    std::vector<double> scales;
    while (sd_bus_message_enter_container(m, 'r', "iiduba(ssss)a{sv}") > 0) {
      int x = 0, y = 0, primary = 0;
      double scale = 1;
      uint32_t transform = 0;
      if (sd_bus_message_read(m, "iidub", &x, &y, &scale, &transform, &primary) < 0) return {};
      std::string connector;
      if (sd_bus_message_enter_container(m, 'a', "(ssss)") < 0) return {};
      const char *c, *vendor, *product, *serialText;
      while (sd_bus_message_read(m, "(ssss)", &c, &vendor, &product, &serialText) > 0)
        if (connector.empty()) connector = c;
      if (sd_bus_message_exit_container(m) < 0 || sd_bus_message_skip(m, "a{sv}") < 0) return {};
      if (sd_bus_message_exit_container(m) < 0) return {};
      const MonitorMode mode = modes[connector];
      // Quarter turns swap width and height.
      const bool turned = transform % 2 == 1;
      Display d{connectorId(connector), {double(x), double(y), double(turned ? mode.height : mode.width),
                                         double(turned ? mode.width : mode.height)},
                primary != 0};
      logical.emplace_back(connector, d);
      scales.push_back(scale > 0 ? scale : 1);
    }
    if (sd_bus_message_exit_container(m) < 0) return {};
    uint32_t layoutMode = 1;
    if (!readOptions(m, {{"layout-mode", [&](sd_bus_message* v) { return sd_bus_message_read(v, "u", &layoutMode); }}}))
      return {};
    for (size_t i = 0; i < logical.size(); ++i) {
      Display d = logical[i].second;
      // In the logical layout, positions are in scaled pixels.
      if (layoutMode == 1) {
        d.bounds.width /= scales[i];
        d.bounds.height /= scales[i];
      }
      if (d.bounds.width > 0 && d.bounds.height > 0) screens.emplace_back(logical[i].first, d);
    }
  } catch (const Failure&) {
    return {};
  }
  return screens;
}

}  // namespace

bool MutterShare::available(Bus& bus) { return bus.hasName(kRemoteDesktop) && bus.hasName(kScreenCast); }

std::vector<Display> MutterShare::monitors(Bus& bus) {
  std::vector<Display> screens;
  for (const auto& [connector, display] : connectors(bus)) screens.push_back(display);
  return screens;
}

MutterShare::MutterShare(std::unique_ptr<Bus> bus) : bus_(std::move(bus)) {}

MutterShare::~MutterShare() {
  closing_ = true;
  if (started_) bus_->send(bus_->method(kRemoteDesktop, session_, "org.gnome.Mutter.RemoteDesktop.Session", "Stop"));
}

std::vector<DesktopShare::Stream> MutterShare::start() {
  const auto screens = connectors(*bus_);
  if (screens.empty()) throw noScreen();
  session_ = readPath(bus_->call(
      bus_->method(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop, "CreateSession")));
  auto idReply = bus_->property(kRemoteDesktop, session_, "org.gnome.Mutter.RemoteDesktop.Session", "SessionId");
  const char* sessionId = nullptr;
  if (sd_bus_message_read(idReply.get(), "s", &sessionId) < 0 || !sessionId)
    throw Failure(Failure::Kind::unsupported, "GNOME's remote desktop gave no session id");
  auto create = bus_->method(kScreenCast, "/org/gnome/Mutter/ScreenCast", kScreenCast, "CreateSession");
  appendOptions(create.get(), {{"remote-desktop-session-id", std::string(sessionId)}});
  const std::string castSession = readPath(bus_->call(std::move(create)));

  std::vector<Stream> streams;
  for (const auto& [connector, display] : screens) {
    auto record = bus_->method(kScreenCast, castSession, "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor");
    sd_bus_message_append(record.get(), "s", connector.c_str());
    appendOptions(record.get(), {{"cursor-mode", uint32_t(2)}});  // the pointer as metadata
    streams.push_back({0, display, readPath(bus_->call(std::move(record)))});
  }
  // Subscribed before the start that makes them, so none is missed.
  for (Stream& stream : streams)
    bus_->subscribe(stream.handle, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded",
                    [&stream](sd_bus_message* m) { sd_bus_message_read(m, "u", &stream.node); });
  bus_->subscribe(session_, "org.gnome.Mutter.RemoteDesktop.Session", "Closed", [this](sd_bus_message*) {
    if (closing_) return;
    if (auto closed = onClosed) closed("the desktop ended the remote desktop session");
  });
  bus_->watchName(kRemoteDesktop, [this] {
    if (closing_) return;
    if (auto closed = onClosed) closed("the desktop ended");
  });
  bus_->call(bus_->method(kRemoteDesktop, session_, "org.gnome.Mutter.RemoteDesktop.Session", "Start"));
  started_ = true;
  auto allAdded = [&streams] {
    for (const Stream& s : streams)
      if (s.node == 0) return false;
    return true;
  };
  if (!bus_->processUntil(allAdded, std::chrono::steady_clock::now() + kStreamWait))
    throw Failure(Failure::Kind::unsupported, "GNOME's remote desktop gave no picture stream");
  // The stream's own idea of where it is wins over the monitor list's.
  for (Stream& stream : streams) {
    try {
      auto reply = bus_->property(kScreenCast, stream.handle, "org.gnome.Mutter.ScreenCast.Stream", "Parameters");
      Rect& b = stream.display.bounds;
      int x = int(b.x), y = int(b.y), w = int(b.width), h = int(b.height);
      readOptions(reply.get(), {{"position", [&](sd_bus_message* v) { return sd_bus_message_read(v, "(ii)", &x, &y); }},
                                {"size", [&](sd_bus_message* v) { return sd_bus_message_read(v, "(ii)", &w, &h); }}});
      if (w > 0 && h > 0) b = {double(x), double(y), double(w), double(h)};
    } catch (const Failure&) {
    }
  }
  return streams;
}

void MutterShare::notify(const char* member, const char* types, ...) {
  if (!started_) return;
  auto m = bus_->method(kRemoteDesktop, session_, "org.gnome.Mutter.RemoteDesktop.Session", member);
  va_list args;
  va_start(args, types);
  sd_bus_message_appendv(m.get(), types, args);
  va_end(args);
  bus_->send(std::move(m));
}

void MutterShare::pointerMotion(const Stream& stream, double x, double y) {
  notify("NotifyPointerMotionAbsolute", "sdd", stream.handle.c_str(), x, y);
}

void MutterShare::pointerButton(int evdevCode, bool down) {
  notify("NotifyPointerButton", "ib", int32_t(evdevCode), int(down));
}

void MutterShare::pointerAxisDiscrete(int axis, int steps) {
  notify("NotifyPointerAxisDiscrete", "ui", uint32_t(axis), int32_t(steps));
}

void MutterShare::keysym(uint32_t keysym, bool down) { notify("NotifyKeyboardKeysym", "ub", keysym, int(down)); }

}  // namespace plimo
