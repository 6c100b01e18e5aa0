#pragma once
// Timings and sizes both ends of the server link keep alike: the client
// (PlimoClient) and plimo-server. One copy, so the two cannot drift apart.

#include <cstddef>
#include <cstdint>

namespace plimo::link {

// The server's UDP port where none is configured.
inline constexpr uint16_t kDefaultServerPort = 47800;
// A client's HELLO keeps its server session alive this often.
inline constexpr double kKeepAlive = 20.0;
// Either end gives the server session up after this much silence: three
// missed keep-alives and some.
inline constexpr double kServerSilence = 65.0;
// The largest UDP datagram either end reads.
inline constexpr size_t kMaxDatagram = 65536;

}  // namespace plimo::link
