// What 50 one-byte chat lines from the partner cost the helper's chat panel,
// open beside the picture, in an empty chat and in one filled to its cap
// (1,000 lines of 4 kB): each line as the session takes it in, the panel
// shows it and Qt lays it out and paints it.
//
//   QT_QPA_PLATFORM=offscreen bench_chat

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QTextBrowser>
#include <cstdlib>

#include "testkit/ViewerRig.h"
#include "ui/ViewerChat.h"

namespace {

void FiftyLinesIntoTheChat(benchmark::State& state) {
  plimo::testkit::ViewerRig rig;
  std::string full;
  while (full.size() < 4096) full += "a line of chat, and more of it ";
  full.resize(4096);
  for (int64_t i = 0; i < state.range(0); ++i) rig.session->sendChat(full);
  plimo::ViewerChat panel(*rig.session);
  panel.show();
  // Qt lays a long document out bit by bit while idle: all of it first, so
  // the lines below pay for themselves only.
  panel.findChild<QTextBrowser*>()->document()->documentLayout()->documentSize();
  QApplication::processEvents();
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 50; ++i) {
      rig.message(1, plimo::toBytes("x"));
      QApplication::processEvents();
    }
    state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
  }
  state.counters["lines"] = double(rig.session->chat().get().size());
}
BENCHMARK(FiftyLinesIntoTheChat)->Arg(0)->Arg(1000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
