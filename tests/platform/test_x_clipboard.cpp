// The X clipboard against a private Xvfb and real clients: xclip copies and
// pastes, and a second XClipboard is another program's clipboard, so large
// texts go by INCR both ways.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "TestServers.h"
#include "platform/linux/XClipboard.h"

using namespace plimo;
using namespace plimo::testing;

namespace {

// One XClipboard and the copies it saw.
struct Watcher {
  XClipboard clipboard;
  std::mutex lock;
  std::vector<Clipboard::Copy> copies;

  explicit Watcher(size_t limit) {
    clipboard.onCopied = [this](Clipboard::Copy c) {
      std::lock_guard<std::mutex> hold(lock);
      copies.push_back(std::move(c));
    };
    clipboard.start(limit);
  }
  // The next copy, waiting up to 10 s for the X server and its clients.
  std::optional<Clipboard::Copy> next() {
    for (int i = 0; i < 1000; ++i) {
      {
        std::lock_guard<std::mutex> hold(lock);
        if (!copies.empty()) {
          auto c = std::move(copies.front());
          copies.erase(copies.begin());
          return c;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }
};

void xclipIn(const std::string& text) {
  std::FILE* in = popen("xclip -selection clipboard -i 2>/dev/null", "w");
  ASSERT_TRUE(in);
  std::fwrite(text.data(), 1, text.size(), in);
  pclose(in);
}

std::string xclipOut(const std::string& target = "UTF8_STRING") {
  std::FILE* out = popen(("xclip -selection clipboard -o -t " + target + " 2>/dev/null").c_str(), "r");
  std::string text;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  pclose(out);
  return text;
}

std::string pattern(size_t size) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = char('a' + (i * 7 + i / 251) % 26);
  return text;
}

TEST(XClipboard, TextsCrossWithRealClientsAndLargeOnesByIncr) {
  if (!onPath("xclip")) GTEST_SKIP() << "no xclip (scripts/install-deps)";
  Xvfb display(320, 200);
  if (!display.running()) GTEST_SKIP() << "no Xvfb";
  Watcher ours(1 << 20);

  // A copy made here in another program.
  xclipIn("gr\xC3\xBC\xC3\x9F dich\n");
  auto copy = ours.next();
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->text, "gr\xC3\xBC\xC3\x9F dich\n");

  // A text from the partner, pasted by another program.
  const std::string large = pattern(700 * 1024);
  ours.clipboard.setText(large);
  std::string pasted;
  for (int i = 0; i < 100 && pasted != large; ++i) pasted = xclipOut();  // once the thread owns it
  EXPECT_EQ(pasted, large) << "served by INCR";
  EXPECT_NE(xclipOut("TARGETS").find("UTF8_STRING"), std::string::npos);
  {
    std::lock_guard<std::mutex> hold(ours.lock);
    EXPECT_TRUE(ours.copies.empty()) << "a text set here is no copy";
  }

  // Another program's large copy, read by INCR; one over the limit is not read.
  Watcher other(1 << 20), small(1000);
  const std::string second = pattern(300 * 1024) + "!";
  other.clipboard.setText(second);
  auto read = ours.next();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->text.size(), second.size());
  EXPECT_EQ(read->text, second);
  auto refused = small.next();
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->tooLarge);
  EXPECT_TRUE(refused->text.empty());

  // The next copy here takes the clipboard back from the partner's text.
  xclipIn("mine");
  auto back = ours.next();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->text, "mine");
  EXPECT_EQ(xclipOut(), "mine");
  ours.clipboard.stop();
  small.clipboard.stop();
  other.clipboard.stop();
}

}  // namespace
