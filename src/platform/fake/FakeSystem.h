#pragma once
// A system whose answers the test sets.

#include "platform/System.h"

namespace plimo {

class FakeSystem final : public System {
 public:
  SystemInfo systemInfo{"Ada Lovelace", "ada", "testbox", "Debian GNU/Linux", "12 (bookworm)"};
  bool screen = true;
  bool control = true;

  SystemInfo info() const override { return systemInfo; }
  bool canRecordScreen() const override { return screen; }
  bool canControl() const override { return control; }
};

}  // namespace plimo
