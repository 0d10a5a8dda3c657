#include "platform/unix_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/home.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

using std::chrono::milliseconds;

class UnixSocketTest : public ::testing::Test {
 protected:
  std::filesystem::path SocketPath(const std::string& name) { return RunDir() / name; }

  // A listener and one accepted connection with a client on the other end.
  void Connected(const std::filesystem::path& path, UnixListener& listener, UnixConnection& server,
                 UnixConnection& client) {
    auto l = UnixListener::Listen(path);
    ASSERT_TRUE(l.ok()) << l.status().ToString();
    listener = std::move(*l);
    auto c = UnixConnection::Connect(path, milliseconds(5000));
    ASSERT_TRUE(c.ok()) << c.status().ToString();
    client = std::move(*c);
    auto s = listener.Accept(milliseconds(5000));
    ASSERT_TRUE(s.ok()) << s.status().ToString();
    server = std::move(*s);
  }

  zimo::testing::TempHome home_;
};

TEST_F(UnixSocketTest, RoundTripAndPeerCredentials) {
  UnixListener listener;
  UnixConnection server, client;
  Connected(SocketPath("echo"), listener, server, client);

  // An echo served from another thread, in two pieces, so RecvExact must
  // join partial reads.
  std::thread echo([&] {
    char buf[11];
    ASSERT_TRUE(server.RecvExact(buf, sizeof buf, milliseconds(5000)).ok());
    ASSERT_TRUE(server.SendAll(buf, 4).ok());
    std::this_thread::sleep_for(milliseconds(20));
    ASSERT_TRUE(server.SendAll(buf + 4, 7).ok());
  });
  ASSERT_TRUE(client.SendAll("hello world", 11).ok());
  char reply[11] = {};
  Status st = client.RecvExact(reply, sizeof reply, milliseconds(5000));
  echo.join();
  ASSERT_TRUE(st.ok()) << st.ToString();
  EXPECT_EQ(std::string(reply, 11), "hello world");

  auto peer = server.Peer();
  ASSERT_TRUE(peer.ok());
  EXPECT_EQ(peer->pid, ::getpid());
  EXPECT_EQ(peer->uid, ::getuid());
}

TEST_F(UnixSocketTest, ReceiveTimeoutsAndEndOfStream) {
  UnixListener listener;
  UnixConnection server, client;
  Connected(SocketPath("t"), listener, server, client);

  char buf[8];
  Result<size_t> none = client.RecvSome(buf, sizeof buf, milliseconds(30));
  EXPECT_EQ(none.status().code(), Code::kTimeout);

  // Fewer bytes than asked: RecvSome takes them, RecvExact times out.
  ASSERT_TRUE(server.SendAll("abc", 3).ok());
  Result<size_t> some = client.RecvSome(buf, sizeof buf, milliseconds(5000));
  ASSERT_TRUE(some.ok());
  EXPECT_EQ(*some, 3u);
  ASSERT_TRUE(server.SendAll("ab", 2).ok());
  EXPECT_EQ(client.RecvExact(buf, 4, milliseconds(30)).code(), Code::kTimeout);

  server.Close();
  EXPECT_EQ(client.RecvExact(buf, 1, milliseconds(5000)).code(), Code::kClosed);
  Status send = client.SendAll("x", 1);
  // The first send after the close may still be taken by the kernel; a
  // second one must report the loss, and no SIGPIPE may kill us.
  if (send.ok()) send = client.SendAll("x", 1);
  EXPECT_EQ(send.code(), Code::kClosed);
}

TEST_F(UnixSocketTest, ShutdownWakesBlockedReceive) {
  UnixListener listener;
  UnixConnection server, client;
  Connected(SocketPath("s"), listener, server, client);
  Status seen;
  std::thread reader([&] {
    char b;
    seen = client.RecvExact(&b, 1);  // no time-out: only Shutdown ends it
  });
  std::this_thread::sleep_for(milliseconds(20));
  client.Shutdown();
  reader.join();
  EXPECT_EQ(seen.code(), Code::kClosed);
}

TEST_F(UnixSocketTest, PassedDescriptorReachesTheSameFile) {
  UnixListener listener;
  UnixConnection server, client;
  Connected(SocketPath("fd"), listener, server, client);

  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  UniqueFd read_end(pipe_fds[0]);
  {
    UniqueFd write_end(pipe_fds[1]);
    ASSERT_TRUE(client.SendFd(write_end.get(), "W1", 2).ok());
  }  // our copy of the write end is closed: only the passed one remains

  char tag[2];
  Result<UniqueFd> got = server.RecvFd(tag, sizeof tag, milliseconds(5000));
  ASSERT_TRUE(got.ok()) << got.status().ToString();
  EXPECT_EQ(std::string(tag, 2), "W1");
  EXPECT_NE(::fcntl(got->get(), F_GETFD) & FD_CLOEXEC, 0);
  ASSERT_EQ(::write(got->get(), "through", 7), 7);
  got->reset();

  char buf[16] = {};
  ASSERT_EQ(::read(read_end.get(), buf, sizeof buf), 7);
  EXPECT_STREQ(buf, "through");
  // The passed write end was the last one: the pipe reports end of file.
  EXPECT_EQ(::read(read_end.get(), buf, sizeof buf), 0);

  // Plain bytes where a descriptor was expected are reported, not mistaken.
  ASSERT_TRUE(client.SendAll("NO", 2).ok());
  EXPECT_EQ(server.RecvFd(tag, sizeof tag, milliseconds(5000)).status().code(), Code::kBadData);
}

TEST_F(UnixSocketTest, StaleSocketFileIsReplacedLiveOneAndOtherFilesAreNot) {
  std::filesystem::path path = SocketPath("stale");
  std::filesystem::create_directories(path.parent_path());
  {
    // A listener that died without removing its file.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
  }
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(UnixConnection::Connect(path, milliseconds(100)).status().code(), Code::kClosed);

  auto listener = UnixListener::Listen(path);
  ASSERT_TRUE(listener.ok()) << listener.status().ToString();
  EXPECT_TRUE(UnixConnection::Connect(path, milliseconds(5000)).ok());

  // A live listener keeps its path.
  EXPECT_EQ(UnixListener::Listen(path).status().code(), Code::kAlreadyExists);
  EXPECT_TRUE(UnixConnection::Connect(path, milliseconds(5000)).ok());

  // A file that is not a socket is never deleted.
  std::filesystem::path plain = SocketPath("plain");
  std::ofstream(plain) << "keep me";
  EXPECT_EQ(UnixListener::Listen(plain).status().code(), Code::kAlreadyExists);
  std::ifstream in(plain);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep me");

  // Closing removes the socket file; later clients learn nobody is there.
  listener->Close();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(UnixConnection::Connect(path, milliseconds(100)).status().code(), Code::kNotFound);
}

TEST_F(UnixSocketTest, AcceptTimesOutAndInterruptWakesIt) {
  auto listener = UnixListener::Listen(SocketPath("acc"));
  ASSERT_TRUE(listener.ok());
  EXPECT_EQ(listener->Accept(milliseconds(20)).status().code(), Code::kTimeout);

  Status seen;
  std::thread acceptor([&] { seen = listener->Accept().status(); });
  std::this_thread::sleep_for(milliseconds(20));
  listener->Interrupt();
  acceptor.join();
  EXPECT_EQ(seen.code(), Code::kClosed);
  // Sticky: a waiting client is not taken any more.
  auto client = UnixConnection::Connect(listener->path(), milliseconds(5000));
  ASSERT_TRUE(client.ok());
  EXPECT_EQ(listener->Accept(milliseconds(0)).status().code(), Code::kClosed);
}

TEST_F(UnixSocketTest, PathLongerThanSocketAddressWorks) {
  std::filesystem::path dir = RunDir() / std::string(60, 'd') / std::string(60, 'e');
  std::filesystem::path path = dir / "long-socket";
  ASSERT_GT(path.string().size(), sizeof(sockaddr_un::sun_path));
  UnixListener listener;
  UnixConnection server, client;
  Connected(path, listener, server, client);
  ASSERT_TRUE(client.SendAll("L", 1).ok());
  char c = 0;
  ASSERT_TRUE(server.RecvExact(&c, 1, milliseconds(5000)).ok());
  EXPECT_EQ(c, 'L');
  EXPECT_TRUE(std::filesystem::exists(path));
  listener.Close();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(UnixSocketPairTest, PairCarriesBytesBothWays) {
  auto pair = UnixSocketPair();
  ASSERT_TRUE(pair.ok());
  auto& [a, b] = *pair;
  ASSERT_TRUE(a.SendAll("ab", 2).ok());
  ASSERT_TRUE(b.SendAll("cd", 2).ok());
  char x[2], y[2];
  ASSERT_TRUE(b.RecvExact(x, 2, milliseconds(5000)).ok());
  ASSERT_TRUE(a.RecvExact(y, 2, milliseconds(5000)).ok());
  EXPECT_EQ(std::string(x, 2), "ab");
  EXPECT_EQ(std::string(y, 2), "cd");
}

}  // namespace
}  // namespace zimo::platform
