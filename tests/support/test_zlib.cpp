// The zlib wrapper against independent implementations: the zlib library's own
// framing (compress2) and Python's zlib module, both directions.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "support/Zlib.h"
#include "testkit/Failures.h"

namespace plimo {
namespace {

// Text-like and picture-like input, compressible but not trivially.
Bytes sample(size_t size, uint32_t seed = 7) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) {
    out[i] = (i % 97 < 60) ? uint8_t("the quick brown fox "[i % 20]) : uint8_t(rng() % 16);
  }
  return out;
}

Bytes libraryStream(ByteView input, int level) {
  uLongf size = compressBound(uLong(input.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, input.data(), uLong(input.size()), level), Z_OK);
  out.resize(size);
  return out;
}

void expectCorrupt(ByteView stream, size_t maxOutput = Zlib::kDefaultMaxOutput) {
  EXPECT_EQ(testkit::failureKind([&] { Zlib::decompress(stream, maxOutput); }), Failure::Kind::corrupt)
      << "a stream of " << stream.size() << " bytes";
}

// Runs a Python snippet with `input` on stdin and returns its stdout, or skips
// when python3 is missing.
class Python {
 public:
  Python() : dir_(std::filesystem::temp_directory_path() / ("plimo-zlib-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
  }
  ~Python() { std::filesystem::remove_all(dir_); }

  bool available() const { return std::system("command -v python3 >/dev/null 2>&1") == 0; }

  Bytes run(const std::string& code, ByteView input) {
    const auto in = dir_ / "in", out = dir_ / "out", script = dir_ / "s.py";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
    std::ofstream(script) << "import sys, zlib\ndata = sys.stdin.buffer.read()\n" << code << "\n";
    const std::string cmd = "python3 " + script.string() + " < " + in.string() + " > " + out.string();
    lastStatus = std::system(cmd.c_str());
    std::ifstream file(out, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
  }

  int lastStatus = -1;

 private:
  std::filesystem::path dir_;
};

TEST(Zlib, AdlerAndFraming) {
  EXPECT_EQ(Zlib::adler32({}), 1u);
  const Bytes abc = toBytes("abc");
  EXPECT_EQ(Zlib::adler32(abc), 0x024D0127u);
  // Past 5552 bytes the sums must have been reduced.
  const Bytes big(100000, 0xFF);
  EXPECT_EQ(Zlib::adler32(big), uint32_t(::adler32(1, big.data(), uInt(big.size()))));

  for (int level : {0, 1, 6, 9}) {
    const Bytes s = Zlib::compress(abc, level);
    ASSERT_GE(s.size(), 7u);
    EXPECT_EQ(s[0], 0x78);
    EXPECT_EQ(s[1], 0x9C);
    EXPECT_EQ(Bytes(s.end() - 4, s.end()), (Bytes{0x02, 0x4D, 0x01, 0x27}));
    EXPECT_EQ(Zlib::decompress(s), abc);
  }
  const Bytes empty = Zlib::compress({});
  EXPECT_EQ(Bytes(empty.end() - 4, empty.end()), (Bytes{0, 0, 0, 1}));
  EXPECT_TRUE(Zlib::decompress(empty).empty());
}

TEST(Zlib, DecodesTheLibrarysStreamsAtEveryLevel) {
  const Bytes input = sample(300000);
  for (int level : {1, 6, 9}) {
    const Bytes s = libraryStream(input, level);
    EXPECT_EQ(Zlib::decompress(s), input) << "level " << level;
  }
  // And the library reads ours, trailer included.
  const Bytes ours = Zlib::compress(input);
  Bytes back(input.size());
  uLongf size = uLongf(back.size());
  EXPECT_EQ(uncompress(back.data(), &size, ours.data(), uLong(ours.size())), Z_OK);
  EXPECT_EQ(back, input);
}

// Streams travel to and from Python length-prefixed (u32 BE), several per
// run, to keep the number of interpreter starts down.
Bytes framed(const std::vector<Bytes>& streams) {
  Bytes out;
  for (const Bytes& s : streams) {
    appendBE<uint32_t>(out, uint32_t(s.size()));
    append(out, s);
  }
  return out;
}

std::vector<Bytes> unframed(ByteView data) {
  std::vector<Bytes> out;
  size_t pos = 0;
  while (inRange(data.size(), pos, 4)) {
    const uint32_t size = readBE<uint32_t>(data, pos);
    if (!inRange(data.size(), pos + 4, size)) break;
    out.push_back(bytes(data, pos + 4, size));
    pos += 4 + size;
  }
  return out;
}

TEST(Zlib, InteroperatesWithPython) {
  Python py;
  if (!py.available()) GTEST_SKIP() << "python3 is not installed";
  const Bytes input = sample(70000, 3);
  // Levels 1, 6, 9, and a 512-byte window (header 18 xx), still ours to read.
  const auto made = unframed(py.run(
      "def put(b): sys.stdout.buffer.write(len(b).to_bytes(4, 'big') + b)\n"
      "for level in (1, 6, 9): put(zlib.compress(data, level))\n"
      "c = zlib.compressobj(6, zlib.DEFLATED, 9)\n"
      "put(c.compress(data) + c.flush())",
      input));
  ASSERT_EQ(py.lastStatus, 0);
  ASSERT_EQ(made.size(), 4u);
  EXPECT_EQ(made[3][0], 0x18);
  for (const Bytes& s : made) EXPECT_EQ(Zlib::decompress(s), input);

  // Python checks the Adler-32 trailer, so this also proves ours right.
  std::vector<Bytes> ours;
  for (int level : {0, 1, Zlib::kLevel, 6, 9}) ours.push_back(Zlib::compress(input, level));
  const auto back = unframed(py.run(
      "pos = 0\n"
      "while pos < len(data):\n"
      "    n = int.from_bytes(data[pos:pos + 4], 'big')\n"
      "    out = zlib.decompress(data[pos + 4:pos + 4 + n])\n"
      "    sys.stdout.buffer.write(len(out).to_bytes(4, 'big') + out)\n"
      "    pos += 4 + n",
      framed(ours)));
  ASSERT_EQ(py.lastStatus, 0);
  ASSERT_EQ(back.size(), ours.size());
  for (const Bytes& b : back) EXPECT_EQ(b, input);
}

TEST(Zlib, AcceptsWrongTrailerAndReturnsLargeOutputWhole) {
  const Bytes input = sample(1 << 20, 11);  // four times the inflate step
  Bytes s = Zlib::compress(input);
  s[s.size() - 1] ^= 0x55;
  s[s.size() - 3] ^= 0xAA;
  EXPECT_EQ(Zlib::decompress(s), input);
  // A missing trailer is no worse than a wrong one.
  s.resize(s.size() - 4);
  EXPECT_EQ(Zlib::decompress(s), input);
}

TEST(Zlib, RefusesBadHeadersShortInputAndDamage) {
  Bytes good = Zlib::compress(sample(1000));
  for (Bytes header : {Bytes{0x78, 0x9D}, Bytes{0x79, 0x9C}, Bytes{0x78, 0xBB}}) {
    Bytes bad = good;
    bad[0] = header[0];
    bad[1] = header[1];
    expectCorrupt(bad);
  }
  for (size_t n = 0; n <= 5; ++n) expectCorrupt(ByteView(good).first(n));
  // Even a 5-byte prefix of a real empty stream.
  expectCorrupt(ByteView(Zlib::compress({})).first(5));
  // DEFLATE data cut short, and garbage after a good header.
  expectCorrupt(ByteView(good).first(good.size() / 2));
  expectCorrupt(Bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

TEST(Zlib, PeekGivesTheStartOrLessNeverMore) {
  const Bytes input = sample(300000);
  const Bytes good = Zlib::compress(input);
  Bytes badHeader = good;
  badHeader[1] = 0x9D;
  const Bytes garbage{0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes zeros(8u << 20, 0);
  const Bytes bomb = Zlib::compress(zeros, 9);
  const struct {
    const char* what;
    ByteView stream;
    size_t bytes;
    ByteView expected;
  } cases[] = {
      {"the start", good, 6, ByteView(input).first(6)},
      {"nothing asked", good, 0, {}},
      {"all of it", good, input.size(), input},
      {"more than there is", good, input.size() + 1, input},
      {"a bad header", badHeader, 6, {}},
      {"5 bytes", ByteView(good).first(5), 6, {}},
      {"garbage after a header", garbage, 6, {}},
      {"the start of a stream cut short", ByteView(good).first(good.size() / 2), 6, ByteView(input).first(6)},
      {"the start of a bomb", bomb, 6, ByteView(zeros).first(6)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Zlib::peek(c.stream, c.bytes), Bytes(c.expected.begin(), c.expected.end())) << c.what;
  }
  // Cut short: what comes out is the input's start, and less than all of it.
  const Bytes most = Zlib::peek(ByteView(good).first(good.size() / 2), input.size());
  EXPECT_LT(most.size(), input.size());
  EXPECT_EQ(most, bytes(input, 0, most.size()));
}

TEST(Zlib, HonoursTheCallersOutputLimit) {
  // 8 MB of zeros compress to about 8 KB: the kind of stream that must not
  // make a viewer allocate what it claims.
  const Bytes zeros(8u << 20, 0);
  const Bytes bomb = Zlib::compress(zeros, 9);
  ASSERT_LT(bomb.size(), 20000u);
  expectCorrupt(bomb, 1u << 20);
  expectCorrupt(bomb, zeros.size() - 1);
  EXPECT_EQ(Zlib::decompress(bomb, zeros.size()).size(), zeros.size());
  const Bytes small = Zlib::compress(toBytes("abc"));
  EXPECT_EQ(Zlib::decompress(small, 3), toBytes("abc"));
  expectCorrupt(small, 2);
  EXPECT_TRUE(Zlib::decompress(Zlib::compress({}), 0).empty());
}

}  // namespace
}  // namespace plimo
