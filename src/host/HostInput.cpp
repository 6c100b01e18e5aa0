#include "host/HostInput.h"

namespace plimo {

namespace {

class NoInput final : public InputSink {
 public:
  void moveTo(int, int) override {}
  void button(int, bool) override {}
  void key(uint32_t, bool) override {}
};

std::unique_ptr<InputSink> openSink(PlatformFactory& platform, std::string& problem) {
  try {
    return platform.inputSink();
  } catch (const Failure& failure) {
    problem = failure.text();
    return std::make_unique<NoInput>();
  }
}

}  // namespace

HostInput::HostInput(PlatformFactory& platform, bool controlAsCommand)
    : sink_(openSink(platform, problem_)), injector_(*sink_, controlAsCommand) {}

std::optional<Bytes> HostInput::receive(ByteView packet, bool play) {
  return receiver_.handle(packet, play, [this](const InputEvent& e) { injector_.apply(e.kind, e.x, e.y, e.data); });
}

}  // namespace plimo
