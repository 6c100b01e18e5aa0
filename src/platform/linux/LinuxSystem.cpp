#include "platform/linux/LinuxSystem.h"

#include <X11/Xlib.h>
#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace plimo {

namespace {

std::string unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

// Opens the display named by $DISPLAY for one question, quietly.
template <typename Fn>
bool withDisplay(Fn fn) {
  ::Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  bool answer = fn(display);
  XCloseDisplay(display);
  return answer;
}

}  // namespace

void parseOsRelease(const std::string& text, SystemInfo& info) {
  std::istringstream in(text);
  std::string line, versionId;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = unquote(line.substr(eq + 1));
    if (key == "NAME") info.osName = value;
    if (key == "VERSION") info.osVersion = value;
    if (key == "VERSION_ID") versionId = value;
  }
  if (info.osVersion.empty()) info.osVersion = versionId;
}

SystemInfo LinuxSystem::info() const {
  SystemInfo info;
  if (const passwd* pw = getpwuid(getuid())) {
    info.loginName = pw->pw_name ? pw->pw_name : "";
    std::string gecos = pw->pw_gecos ? pw->pw_gecos : "";
    info.fullUserName = gecos.substr(0, gecos.find(','));
  }
  if (info.fullUserName.empty()) info.fullUserName = info.loginName;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) info.hostName = host;
  std::ifstream file("/etc/os-release");
  std::stringstream text;
  text << file.rdbuf();
  parseOsRelease(text.str(), info);
  if (info.osName.empty()) info.osName = "Linux";
  return info;
}

bool LinuxSystem::canRecordScreen() const {
  return withDisplay([](::Display*) { return true; });
}

bool LinuxSystem::canControl() const {
  return withDisplay([](::Display* display) {
    int opcode = 0, event = 0, error = 0;
    return XQueryExtension(display, "XTEST", &opcode, &event, &error) != 0;
  });
}

}  // namespace plimo
