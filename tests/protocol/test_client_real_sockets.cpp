// The server link on its real sockets and an AsioLoop, against a scripted
// server on loopback: name lookup, handshake, HELLO and ID end to end.
#include <gtest/gtest.h>

#include <asio/ip/udp.hpp>
#include <thread>

#include "core/AsioLoop.h"
#include "protocol/link/PlimoClient.h"
#include "protocol/net/NetSocketFactory.h"
#include "testkit/FakeRelayServer.h"
#include "testkit/LinkRecorder.h"
#include "testkit/PlimoClientTestKit.h"

using namespace plimo;
using namespace plimo::testkit;

TEST(ClientRealSockets, RegistersOverLoopbackUdp) {
  asio::io_context io;
  asio::ip::udp::socket serverSocket(io, asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0));
  uint16_t serverPort = serverSocket.local_endpoint().port();
  FakeRelayServer relay;
  std::string hello;

  std::thread server([&] {
    Bytes buffer(65536);
    asio::ip::udp::endpoint client;
    for (;;) {
      size_t n = serverSocket.receive_from(asio::buffer(buffer), client);
      ByteView packet(buffer.data(), n);
      if (n == 1 && buffer[0] == 'Q') return;  // the test is over
      if (FakeRelayServer::isHandshake(packet)) {
        serverSocket.send_to(asio::buffer(relay.welcome(packet)), client);
      } else if (auto line = relay.open(packet)) {
        if (line->starts_with("HELLO ")) {
          hello = *line;
          serverSocket.send_to(asio::buffer(relay.seal("ID 123456789")), client);
        }
      }
    }
  });

  AsioLoop loop;
  NetSocketFactory sockets(loop);
  LinkRecorder events;
  events.afterID = [&] { loop.stop(); };
  auto client = PlimoClient::create(loop, sockets, events.weak(), "localhost", serverPort, "", "");
  auto giveUp = loop.after(10.0, [&] { loop.stop(); });
  client->start();
  loop.run();

  EXPECT_EQ(client->myID(), "123456789");
  PlimoClientTestKit kit(*client);
  EXPECT_EQ(kit.relayIP(), "127.0.0.1");
  std::string port = " " + std::to_string(kit.udpPort()) + " ";
  client->stop();
  asio::ip::udp::socket quit(io, asio::ip::udp::endpoint(asio::ip::udp::v4(), 0));
  quit.send_to(asio::buffer("Q", 1), serverSocket.local_endpoint());
  server.join();  // after this, `hello` is the server thread's no more
  EXPECT_TRUE(hello.starts_with("HELLO 0 ")) << hello;
  EXPECT_NE(hello.find(port), std::string::npos) << hello;
}
