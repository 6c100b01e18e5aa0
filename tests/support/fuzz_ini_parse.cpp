// Plimo.ini as anyone may have edited it: what we write reads back the same,
// and the settings the program reads from it survive the program's own save.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "support/AppSettings.h"
#include "support/IniFile.h"
#include "support/UserDefaults.h"
#include "testkit/FuzzFolder.h"
#include "testkit/TempDir.h"

using namespace plimo;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool same(const std::vector<IniFile::Section>& a, const std::vector<IniFile::Section>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].entries != b[i].entries) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto sections = IniFile::parse(text);
  check(same(IniFile::parse(IniFile::render(sections)), sections));

  const auto path = testkit::fuzzFolder() / "Plimo.ini";
  testkit::writeFile(path, std::string(text));
  IniFile ini(path);
  ini.load();
  const UserDefaults none;
  const AppSettings settings = AppSettings::load(ini, none, "Full Name");
  check(settings.save(ini).ok());
  IniFile saved(path);
  saved.load();
  check(AppSettings::load(saved, none, "Full Name") == settings);
  return 0;
}
