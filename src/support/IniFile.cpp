#include "support/IniFile.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/AtomicFile.h"

namespace plimo {

namespace fs = std::filesystem;

namespace {

// Length of a line break at `i` (LF, CR, VT, FF, NEL, LS, PS), or 0.
size_t lineBreakAt(std::string_view text, size_t i) {
  char c = text[i];
  if (c == '\n' || c == '\r' || c == '\v' || c == '\f') return 1;
  std::string_view rest = text.substr(i);
  if (rest.starts_with("\xC2\x85")) return 2;
  if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) return 3;
  return 0;
}

}  // namespace

IniFile::IniFile(fs::path url) : url_(std::move(url)) {}

fs::path IniFile::appFolder() {
  fs::path folder;
  if (const char* home = std::getenv("PLIMO_HOME"); home && *home) {
    folder = home;
  } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    folder = fs::path(xdg) / "Plimo";
  } else {
    const char* userHome = std::getenv("HOME");
    folder = fs::path(userHome && *userHome ? userHome : "/tmp") / ".config" / "Plimo";
  }
  // Private to this user: Plimo.ini holds the secret that keeps the ID.
  std::error_code ignored;
  fs::create_directories(folder.parent_path(), ignored);
  ::mkdir(folder.c_str(), 0700);
  return folder;
}

IniFile& IniFile::user() {
  static IniFile* shared = [] {
    auto* file = new IniFile(appFolder() / "Plimo.ini");  // lives until the process ends
    file->load();
    return file;
  }();
  return *shared;
}

std::vector<IniFile::Section> IniFile::parse(std::string_view raw) {
  std::string text = utf8Lossy(raw);
  std::string_view view = text;
  if (view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);

  std::vector<Section> sections;
  auto takeLine = [&](std::string_view line) {
    line = trimBlanks(line);
    if (line.empty() || line.front() == ';') return;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      sections.push_back(Section{std::string(line.substr(1, line.size() - 2)), {}});
      return;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || sections.empty()) return;
    sections.back().entries.emplace_back(std::string(trimBlanks(line.substr(0, eq))),
                                         std::string(line.substr(eq + 1)));
  };
  size_t start = 0;
  for (size_t i = 0; i < view.size();) {
    if (size_t n = lineBreakAt(view, i)) {
      takeLine(view.substr(start, i - start));
      i += n;
      start = i;
    } else {
      ++i;
    }
  }
  takeLine(view.substr(start));
  return sections;
}

std::string IniFile::render(const std::vector<Section>& sections) {
  std::string out;
  for (const auto& section : sections) {
    out += "[" + section.name + "]\r\n";
    for (const auto& [key, value] : section.entries) out += key + "=" + value + "\r\n";
    out += "\r\n";
  }
  return out;
}

void IniFile::load() {
  std::vector<Section> fresh;
  std::error_code error;
  auto size = fs::file_size(url_, error);
  if (!error && size <= maxFileSize) {
    std::ifstream in(url_, std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.good() || in.eof()) fresh = parse(raw);
  }
  std::lock_guard<std::mutex> guard(lock_);
  sections_ = std::move(fresh);
}

Result<void> IniFile::save() {
  std::string text;
  {
    std::lock_guard<std::mutex> guard(lock_);
    text = render(sections_);
  }
  return writeFileAtomically(url_, text);
}

const IniFile::Section* IniFile::find(std::string_view section) const {
  for (const auto& s : sections_)
    if (sameName(s.name, section)) return &s;
  return nullptr;
}

std::string IniFile::string(std::string_view section, std::string_view key, std::string_view fallback) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (const Section* s = find(section))
    for (const auto& [k, v] : s->entries)
      if (sameName(k, key)) return v;
  return std::string(fallback);
}

int64_t IniFile::integer(std::string_view section, std::string_view key, int64_t fallback) const {
  return parseDecimal(trimBlanks(string(section, key, ""))).value_or(fallback);
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
  std::lock_guard<std::mutex> guard(lock_);
  auto* s = const_cast<Section*>(find(section));
  if (!s) {
    sections_.push_back(Section{std::string(section), {}});
    s = &sections_.back();
  }
  for (auto& [k, v] : s->entries) {
    if (sameName(k, key)) {
      v = value;
      return;
    }
  }
  s->entries.emplace_back(std::string(key), std::string(value));
}

std::vector<std::string> IniFile::keys(std::string_view section) const {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> out;
  if (const Section* s = find(section))
    for (const auto& entry : s->entries) out.push_back(entry.first);
  return out;
}

void IniFile::remove(std::string_view section, std::string_view key) {
  std::lock_guard<std::mutex> guard(lock_);
  auto* s = const_cast<Section*>(find(section));
  if (!s) return;
  std::erase_if(s->entries, [&](const auto& entry) { return sameName(entry.first, key); });
}

std::vector<IniFile::Section> IniFile::sections() const {
  std::lock_guard<std::mutex> guard(lock_);
  return sections_;
}

}  // namespace plimo
