// One call of the device object from a client process, LastCommError(0)
// (a property get that touches no card), beside a bare Unix-socket round
// trip to another process with frames of the same sizes, in the same run.
// Timed in turns (PairedTimes),
// so both meet the same machine load; "ratio" is the call's cost against
// the bare round trip.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "automation/activation.h"
#include "automation/dispatch.h"
#include "bench/paired_times.h"
#include "platform/home.h"
#include "platform/process.h"
#include "platform/unix_socket.h"
#include "temp_home.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;
using automation::Variant;

constexpr automation::DispId kLastCommError = 0x1f;
constexpr int kBatch = 200;  // calls per timed turn

std::filesystem::path ProgramDir() {
  if (const char* dir = std::getenv("ZIMO_BIN_DIR")) return dir;
  return platform::ExecutablePath().parent_path().parent_path() / "bin";
}

// The frames of one LastCommError(0) call on the object layer's wire: the
// request is the 12-byte header, object id (4), DISPID (4), flags (2),
// argument count (2) and the device as a VARIANT (type 2 + value 4); the
// reply is the header, HRESULT (4), the result VARIANT (2 + 4), the count
// of out arguments (2) and an empty exception record (code 4, two empty
// texts of 4 each).
constexpr size_t kRequestBytes = 12 + 4 + 4 + 2 + 2 + 6;
constexpr size_t kReplyBytes = 12 + 4 + 6 + 2 + 12;

// The server of a home of its own, and one device object in it.
struct Client {
  zimo::testing::TempHome home;
  std::shared_ptr<automation::Dispatch> device;
  bool ok = false;

  Client() {
    const std::string server = (ProgramDir() / "zimoserver").string();
    platform::SpawnOptions quiet;
    quiet.quiet = true;
    auto reg = platform::Spawn({server, "-RegServer"}, quiet);
    if (!reg.ok() || !reg->Wait(30s).ok()) return;
    ok = automation::CreateInstance("ZimoServer.ZimoDevice.1", &device) == automation::S_OK;
  }
  bool Call() {
    std::vector<Variant> args = {Variant(0)};
    Variant value;
    return device->Invoke(kLastCommError, automation::kPropertyGet, args, &value, nullptr) ==
               automation::S_OK &&
           value == Variant(0);
  }
};

// Another process (this program again) that answers every request frame
// with a reply frame of the sizes given.
constexpr char kPeerVariable[] = "ZIMO_BENCH_ECHO_PEER";

int RunEchoPeer(const char* spec) {
  char path[4096] = {};
  size_t request = 0, reply = 0;
  if (std::sscanf(spec, "%zu %zu %4095s", &request, &reply, path) != 3) return 2;
  auto socket = platform::UnixConnection::Connect(path, std::chrono::seconds(10));
  if (!socket.ok()) return 1;
  std::vector<uint8_t> in(request), out(reply, 1);
  while (socket->RecvExact(in.data(), in.size()).ok() &&
         socket->SendAll(out.data(), out.size()).ok()) {
  }
  return 0;
}

struct EchoPeer {
  platform::UnixConnection socket;
  platform::Process child;

  EchoPeer(size_t request, size_t reply) {
    const std::filesystem::path path = platform::RunDir() / "bench-echo.sock";
    auto listener = platform::UnixListener::Listen(path);
    if (!listener.ok()) return;
    platform::SpawnOptions options;
    options.environment = {std::string(kPeerVariable) + "=" + std::to_string(request) + " " +
                           std::to_string(reply) + " " + path.string()};
    auto p = platform::Spawn({platform::ExecutablePath().string()}, options);
    if (!p.ok()) return;
    child = std::move(*p);
    auto accepted = listener->Accept(std::chrono::seconds(10));
    if (accepted.ok()) socket = std::move(*accepted);
  }
  ~EchoPeer() {
    socket.Shutdown();
    socket.Close();
    if (child.valid()) (void)child.Wait(10s);
  }
  bool ok() const { return socket.is_open(); }
  bool RoundTrip(std::vector<uint8_t>& in, const std::vector<uint8_t>& out) {
    return socket.SendAll(out.data(), out.size()).ok() &&
           socket.RecvExact(in.data(), in.size()).ok();
  }
};

void BM_LastCommErrorBesideSocketRoundTrip(benchmark::State& state) {
  Client client;
  if (!client.ok) return state.SkipWithError("the server did not start");
  for (int i = 0; i < 20; ++i) {
    if (!client.Call()) return state.SkipWithError("the call failed");
  }
  const size_t request = kRequestBytes;
  const size_t reply = kReplyBytes;
  EchoPeer peer(request, reply);
  if (!peer.ok()) return state.SkipWithError("no echo peer");
  std::vector<uint8_t> out(request, 2), in(reply);

  bench::PairedTimes times;
  using Clock = bench::PairedTimes::Clock;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      if (!client.Call()) return state.SkipWithError("the call failed");
    }
    times.AddLibrary((Clock::now() - t0) / kBatch);
    t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      if (!peer.RoundTrip(in, out)) return state.SkipWithError("the echo failed");
    }
    times.AddDirect((Clock::now() - t0) / kBatch);
  }
  times.Report(state);
  state.counters["request_bytes"] = static_cast<double>(request);
  state.counters["reply_bytes"] = static_cast<double>(reply);
  if (state.counters.count("library_us") != 0) {
    state.counters["calls_per_s"] = 1e6 / state.counters["library_us"].value;
  }
  client.device.reset();
}
BENCHMARK(BM_LastCommErrorBesideSocketRoundTrip)->UseRealTime()->Iterations(50);

}  // namespace
}  // namespace zimo::server

int main(int argc, char** argv) {
  if (const char* spec = std::getenv(zimo::server::kPeerVariable)) {
    return zimo::server::RunEchoPeer(spec);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
