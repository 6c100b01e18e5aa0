#include "platform/wayland/PortalRequest.h"

#include <memory>

#include "core/Failure.h"

namespace plimo {

std::string PortalRequests::token() { return "plimo" + std::to_string(++serial_); }

PortalResponse PortalRequests::ask(const std::string& interface, const std::string& member,
                                   const std::function<void(sd_bus_message*, const std::string&)>& fill,
                                   std::chrono::steady_clock::duration wait) {
  const std::string handleToken = token();
  // /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER our unique
  // name without the colon and with dots as underscores.
  std::string sender = bus_.uniqueName();
  if (!sender.empty() && sender.front() == ':') sender.erase(0, 1);
  for (char& c : sender)
    if (c == '.') c = '_';
  const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + handleToken;
  auto response = std::make_shared<PortalResponse>();
  bus_.subscribe(path, "org.freedesktop.portal.Request", "Response", [response](sd_bus_message* m) {
    if (response->code >= 0) return;
    uint32_t code = 0;
    if (sd_bus_message_read(m, "u", &code) < 0) code = 2;
    response->code = int(std::min<uint32_t>(code, 2));
    response->results.reset(sd_bus_message_ref(m));
  });
  auto call = bus_.method("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", interface, member);
  fill(call.get(), handleToken);
  bus_.call(std::move(call));
  if (!bus_.processUntil([&] { return response->code >= 0; }, std::chrono::steady_clock::now() + wait) &&
      response->code < 0)
    // Given up (in time, or cancelled): the desktop closes its dialog too.
    bus_.send(bus_.method("org.freedesktop.portal.Desktop", path, "org.freedesktop.portal.Request", "Close"));
  PortalResponse answer;
  answer.code = response->code;
  answer.results = std::move(response->results);
  return answer;
}

}  // namespace plimo
