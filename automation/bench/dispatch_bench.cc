// One dispatch call to a server and back (small arguments, a retval),
// beside a bare Unix-socket round trip of a similar size through the same
// socket layer, in the same run. The server runs on its own thread; the
// costs are the socket, the framing and the hand-over to the serving thread.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "../tests/test_objects.h"
#include "automation/activation.h"
#include "automation/local_server.h"
#include "platform/unix_socket.h"

namespace zimo::automation {
namespace {

constexpr Guid kBenchClsid = MakeGuid(0x5A1D0001, 0x00B0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0xB0});

void BM_UnixSocketRoundTrip(benchmark::State& state) {
  auto pair = platform::UnixSocketPair();
  if (!pair.ok()) return state.SkipWithError("socket pair");
  platform::UnixConnection client = std::move(pair->first);
  platform::UnixConnection server = std::move(pair->second);
  std::thread echo([&server] {
    uint8_t buf[40];
    while (server.RecvExact(buf, sizeof buf).ok() && server.SendAll(buf, sizeof buf).ok()) {
    }
  });
  uint8_t msg[40] = {1};
  for (auto _ : state) {
    if (!client.SendAll(msg, sizeof msg).ok() || !client.RecvExact(msg, sizeof msg).ok()) {
      state.SkipWithError("echo");
      break;
    }
  }
  client.Shutdown();
  echo.join();
}
BENCHMARK(BM_UnixSocketRoundTrip)->UseRealTime();

void BM_DispatchRoundTrip(benchmark::State& state) {
  LocalServer server;
  if (!server.Listen("bench").ok()) return state.SkipWithError("listen");
  (void)server.RegisterClassObject(kBenchClsid, [](std::shared_ptr<Dispatch>* out) {
    *out = std::make_shared<testing::TestObject>();
    return S_OK;
  });
  std::thread serving([&server] { server.Run(); });
  {
    auto c = ServerConnection::Open(server.socket_path());
    std::shared_ptr<Dispatch> object;
    if (!c.ok() || c->CreateInstance(kBenchClsid, &object) != S_OK) {
      state.SkipWithError("create");
    } else {
      std::vector<Variant> args = {Variant(20), Variant(22)};
      Variant sum;
      for (auto _ : state) {
        object->Invoke(1, kMethod, args, &sum, nullptr);
      }
      if (sum != Variant(42)) state.SkipWithError("wrong sum");
    }
  }
  server.Quit();
  serving.join();
  server.Shutdown();
}
BENCHMARK(BM_DispatchRoundTrip)->UseRealTime();

}  // namespace
}  // namespace zimo::automation

int main(int argc, char** argv) {
  // A home of its own, as the tests have.
  std::string tmpl = (std::filesystem::temp_directory_path() / "zimo-bench-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) return 1;
  ::setenv("ZIMO_HOME", tmpl.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(tmpl, ec);
  return 0;
}
