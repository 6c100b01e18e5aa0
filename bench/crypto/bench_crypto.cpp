// Sealing and opening at the size of a full screen-update chunk, and the two
// public-key operations of every handshake.
//
// The ceiling for the packet figures is `openssl speed -evp aes-256-gcm` at
// 1024-byte blocks on the same machine.

#include <benchmark/benchmark.h>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/SigningKey.h"
#include "protocol/wire/SecureChannel.h"

using namespace plimo;

namespace {

// The largest message packet: 1157 bytes of plaintext (a 1150-byte part and
// its 7-byte head), 1182 bytes sealed. Throughput counts plaintext bytes, as
// `openssl speed` does.
constexpr size_t kPlaintext = 1157;
static_assert(kPlaintext + SecureChannel::kOverhead == 1182);

void BM_Seal1182(benchmark::State& state) {
  SecureChannel channel(SecureChannel::kPeerType, Bytes(32, 1), Bytes(32, 2), 3, 4);
  Bytes plaintext(kPlaintext, 0x5C);
  for (auto _ : state) benchmark::DoNotOptimize(channel.seal(plaintext));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPlaintext));
}
BENCHMARK(BM_Seal1182);

void BM_Open1182(benchmark::State& state) {
  SecureChannel sender(SecureChannel::kPeerType, Bytes(32, 1), Bytes(32, 2), 3, 4);
  Bytes plaintext(kPlaintext, 0x5C);
  // Each packet opens once, so a batch is sealed ahead, outside the timing,
  // and a fresh receiver takes every batch.
  constexpr size_t kBatch = 4096;
  std::vector<Bytes> packets;
  for (size_t i = 0; i < kBatch; ++i) packets.push_back(sender.seal(plaintext));
  auto receiver =
      std::make_unique<SecureChannel>(SecureChannel::kPeerType, Bytes(32, 2), Bytes(32, 1), 4, 3);
  size_t next = 0;
  for (auto _ : state) {
    if (next == kBatch) {
      state.PauseTiming();
      receiver = std::make_unique<SecureChannel>(SecureChannel::kPeerType, Bytes(32, 2),
                                                 Bytes(32, 1), 4, 3);
      next = 0;
      state.ResumeTiming();
    }
    auto opened = receiver->open(packets[next++]);
    if (!opened) state.SkipWithError("a sealed packet did not open");
    benchmark::DoNotOptimize(opened);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPlaintext));
}
BENCHMARK(BM_Open1182);

void BM_EcdhAgree(benchmark::State& state) {
  EcdhKey mine, theirs;
  for (auto _ : state) benchmark::DoNotOptimize(mine.sharedSecret(theirs.publicKey()));
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_EcdhAgree);

void BM_EcdsaVerify(benchmark::State& state) {
  SigningKey key = SigningKey::generate();
  Bytes transcript(232, 0x33);  // the size of the handshake transcript
  Bytes signature = key.sign(transcript);
  for (auto _ : state) {
    bool ok = verifyEcdsa(key.publicKey(), transcript, signature);
    if (!ok) state.SkipWithError("the signature did not verify");
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_EcdsaVerify);

}  // namespace

BENCHMARK_MAIN();
