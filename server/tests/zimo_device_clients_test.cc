// The device object under clients of their own processes, each with a time
// limit: a call that would spin or deadlock the server fails its test (the
// client and the server are killed) and never holds up the suite. The
// clients are this program run again with one helper case picked.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "automation/local_server.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "device_server_fixture.h"
#include "link/library_app.h"
#include "platform/file_mapping.h"
#include "platform/named_mutex.h"

namespace zimo::server::testing {
namespace {

using automation::S_FALSE;
using automation::S_OK;
using automation::VT_BSTR;

enum : DispId {
  kOpen = 0x1,
  kClose = 0x2,
  kGetResponse = 0x17,
  kLockDevice = 0x18,
  kUnlockDevice = 0x19,
  kLastCommError = 0x1f,
  kDownload = 0x3e,
  kDownloadAsynch = 0x3f,
  kGetBuffer = 0x43,
  kGetResponseBuffered = 0xd8,
};

// ---- the client side: runs in a helper process -------------------------

// What a client reports: one "name=value" line each, "done" last.
class Report {
 public:
  explicit Report(const char* path) : out_(path) {}
  ~Report() { out_ << "done\n"; }
  template <typename T>
  void Put(const std::string& name, const T& value) {
    out_ << name << "=" << value << "\n";
    out_.flush();
  }

 private:
  std::ofstream out_;
};

std::string Escaped(const Variant& v) {
  if (v.vt() != VT_BSTR) return "<" + v.DebugString() + ">";
  std::string s;
  for (char c : v.bstr().ToAnsi()) {
    if (c == '\r') {
      s += "\\r";
    } else if (c == '\n') {
      s += "\\n";
    } else {
      s += c;
    }
  }
  return s;
}

int32_t LastErrorOf(Dispatch& o, int32_t device) {
  Variant e;
  if (Call(o, kLastCommError, {Variant(device)}, &e, kPropertyGet) != S_OK) return -1;
  return e.i4();
}

// One exchange of I10 on card 0 as "hr answer".
std::string AskI10(Dispatch& o) {
  Variant t;
  std::vector<Variant> args = {Variant(0), Text("I10"), Variant::ByRef(&t, VT_BSTR)};
  const HRESULT hr = o.Invoke(kGetResponse, kMethod, args, nullptr, nullptr);
  return std::to_string(hr) + " " + Escaped(t);
}

TEST(DeviceClientHelper, DISABLED_Run) {
  const char* which = std::getenv("ZIMO_CLIENT_CASE");
  const char* out = std::getenv("ZIMO_CLIENT_OUT");
  ASSERT_TRUE(which != nullptr && out != nullptr) << "run by the tests below";
  const std::string scenario = which;
  const char* file = std::getenv("ZIMO_CLIENT_FILE");
  std::shared_ptr<Dispatch> o;
  ASSERT_EQ(automation::CreateInstance("ZimoServer.Zimo", &o), S_OK);
  Report report(out);

  if (scenario == "ask") {
    report.Put("ask", AskI10(*o));
  } else if (scenario == "not_open") {
    // Device 5 has no key: nothing of it is open in the server.
    Variant text;
    report.Put("buffer_hr",
               Call(*o, kGetBuffer, {Variant(5), Variant(1), Variant::ByRef(&text, VT_BSTR)}));
    report.Put("buffer_error", LastErrorOf(*o, 5));
    report.Put("buffered_hr", Call(*o, kGetResponseBuffered,
                                   {Variant(5), Text("I10"), Variant(1),
                                    Variant::ByRef(&text, VT_BSTR)}));
    report.Put("buffered_error", LastErrorOf(*o, 5));
    report.Put("response_hr",
               Call(*o, kGetResponse, {Variant(5), Text("I10"), Variant::ByRef(&text, VT_BSTR)}));
    report.Put("response_error", LastErrorOf(*o, 5));
  } else if (scenario == "progress_calls_back" || scenario == "progress_calls_back_async") {
    // Every Progress event of its own download asks the card for I10.
    const bool async = scenario == "progress_calls_back_async";
    std::mutex mu;
    std::vector<std::string> answers;
    int errors = 0;
    std::atomic<bool> ended{false};
    bool saw_end = false;
    auto sink = automation::MakeEventSink(
        k_IZimoDeviceEvents, [&](DispId id, std::span<Variant> args, Variant*) {
          if (id == kEventError) {
            std::lock_guard lock(mu);
            ++errors;
          }
          if (id == kEventMessage && args[1] == Text("END.")) {
            std::lock_guard lock(mu);
            saw_end = true;
          }
          if (id == kEventProgress) {
            const std::string a = AskI10(*o);
            std::lock_guard lock(mu);
            answers.push_back(a);
            if (saw_end && args[1] == Variant(100)) ended = true;
          }
          return S_OK;
        });
    uint32_t cookie = 0;
    ASSERT_EQ(o->Advise(kIid_IZimoDeviceEvents, sink, &cookie), S_OK);
    ASSERT_EQ(Call(*o, kOpen, {Variant(0)}), S_OK);
    const HRESULT hr = Call(*o, async ? kDownloadAsynch : kDownload,
                            {Variant(0), Text(file), Variant(0), Variant(0), Variant(0),
                             Variant(1)});
    report.Put("download_hr", hr);
    if (async) {
      // The run's end; the client's limit is the test's.
      while (!ended) std::this_thread::sleep_for(5ms);
    }
    std::lock_guard lock(mu);
    report.Put("errors", errors);
    report.Put("progress_events", answers.size());
    int good = 0;
    for (const std::string& a : answers) good += a == "0 3713707\\r" ? 1 : 0;
    report.Put("good_answers", good);
    if (!answers.empty()) report.Put("first_answer", answers.front());
  } else if (scenario == "release_during_download") {
    // Object x starts a threaded download on card 0 and is released at
    // once; object y of the same client (calls served in order after the
    // release) then asks card 1.
    std::shared_ptr<Dispatch> x;
    ASSERT_EQ(automation::CreateInstance("ZimoServer.Zimo", &x), S_OK);
    ASSERT_EQ(Call(*x, kOpen, {Variant(0)}), S_OK);
    // The test takes the card's lock now.
    report.Put("opened", 1);
    const std::string locked = std::string(file) + ".locked";
    while (!std::filesystem::exists(locked)) std::this_thread::sleep_for(5ms);
    report.Put("download_hr",
               Call(*x, kDownloadAsynch,
                    {Variant(0), Text(file), Variant(0), Variant(0), Variant(0), Variant(1)}));
    x.reset();
    Variant t;
    std::vector<Variant> args = {Variant(1), Text("I10"), Variant::ByRef(&t, VT_BSTR)};
    report.Put("ask_hr", o->Invoke(kGetResponse, kMethod, args, nullptr, nullptr));
  } else if (scenario == "locking_object_released_on_worker") {
    // Object x takes card 1's lock and starts a threaded download on card
    // 0 whose first Progress event it holds; x is released meanwhile (a
    // call of o after the release shows the server has seen it), so the
    // download's worker drops x's last reference once the event returns.
    struct Held {
      std::atomic<bool> under_way{false};
      std::atomic<bool> let_go{false};
      std::atomic<bool> returned{false};
    };
    auto held = std::make_shared<Held>();
    std::shared_ptr<Dispatch> x;
    ASSERT_EQ(automation::CreateInstance("ZimoServer.Zimo", &x), S_OK);
    auto sink = automation::MakeEventSink(
        k_IZimoDeviceEvents, [held](DispId id, std::span<Variant>, Variant*) {
          if (id == kEventProgress && !held->under_way.exchange(true)) {
            while (!held->let_go) std::this_thread::sleep_for(5ms);
            held->returned = true;
          }
          return S_OK;
        });
    uint32_t cookie = 0;
    ASSERT_EQ(x->Advise(kIid_IZimoDeviceEvents, sink, &cookie), S_OK);
    ASSERT_EQ(Call(*x, kOpen, {Variant(0)}), S_OK);
    report.Put("lock_hr", Call(*x, kLockDevice, {Variant(1)}));
    report.Put("download_hr",
               Call(*x, kDownloadAsynch,
                    {Variant(0), Text(file), Variant(0), Variant(0), Variant(0), Variant(1)}));
    while (!held->under_way) std::this_thread::sleep_for(5ms);
    x.reset();
    report.Put("after_release", LastErrorOf(*o, 0));
    held->let_go = true;
    while (!held->returned) std::this_thread::sleep_for(5ms);
  } else if (scenario == "lock_card_1") {
    // This process's own use of the library: card 1's lock.
    ASSERT_NE(OpenZimoDevice(1), 0u);
    report.Put("lock", LockZimo(1));
    ReleaseZimo(1);
    CloseZimoDevice(1);
    corvan::App().End();
  } else if (scenario == "chain_from_last_progress" || scenario == "lock_in_last_progress") {
    // The handler of the run's last Progress event (after "END.") either
    // starts the next threaded download on card 0 itself (chain) or takes
    // card 0's lock (lock), the client then starting the next download and
    // giving the lock back. In the lock case object y, which has card 0
    // open too, is released while the first download runs.
    const bool chain = scenario == "chain_from_last_progress";
    struct Held {
      std::atomic<bool> under_way{false};
      std::atomic<bool> let_go{false};
      std::atomic<int> ends{0};
      std::atomic<bool> saw_end{false};
      std::atomic<long> chained_hr{-1};
      std::atomic<long> lock_hr{-1};
    };
    auto held = std::make_shared<Held>();
    std::shared_ptr<Dispatch> x;
    std::shared_ptr<Dispatch> y;
    ASSERT_EQ(automation::CreateInstance("ZimoServer.Zimo", &x), S_OK);
    ASSERT_EQ(automation::CreateInstance("ZimoServer.Zimo", &y), S_OK);
    Dispatch* xp = x.get();
    const std::string program = file;
    auto sink = automation::MakeEventSink(
        k_IZimoDeviceEvents, [held, xp, chain, program](DispId id, std::span<Variant> args,
                                                        Variant*) {
          if (id == kEventMessage && args[1] == Text("END.")) held->saw_end = true;
          if (id != kEventProgress) return S_OK;
          if (!held->under_way.exchange(true)) {
            while (!held->let_go) std::this_thread::sleep_for(5ms);
          }
          if (held->saw_end && args[1] == Variant(100)) {
            held->saw_end = false;
            if (held->ends.load() == 0) {
              if (chain) {
                held->chained_hr = Call(*xp, kDownloadAsynch,
                                        {Variant(0), Text(program.c_str()), Variant(0), Variant(0),
                                         Variant(0), Variant(1)});
              } else {
                held->lock_hr = Call(*xp, kLockDevice, {Variant(0)});
              }
            }
            ++held->ends;
          }
          return S_OK;
        });
    uint32_t cookie = 0;
    ASSERT_EQ(x->Advise(kIid_IZimoDeviceEvents, sink, &cookie), S_OK);
    ASSERT_EQ(Call(*x, kOpen, {Variant(0)}), S_OK);
    ASSERT_EQ(Call(*y, kOpen, {Variant(0)}), S_OK);
    report.Put("download_hr",
               Call(*x, kDownloadAsynch,
                    {Variant(0), Text(file), Variant(0), Variant(0), Variant(0), Variant(1)}));
    while (!held->under_way) std::this_thread::sleep_for(5ms);
    if (!chain) {
      y.reset();
      report.Put("after_release", LastErrorOf(*o, 0));
    }
    held->let_go = true;
    while (held->ends.load() < 1) std::this_thread::sleep_for(5ms);
    if (chain) {
      report.Put("chained_hr", held->chained_hr.load());
    } else {
      report.Put("lock_hr", held->lock_hr.load());
      report.Put("second_hr",
                 Call(*x, kDownloadAsynch,
                      {Variant(0), Text(file), Variant(0), Variant(0), Variant(0), Variant(1)}));
      report.Put("unlock_hr", Call(*x, kUnlockDevice, {Variant(0)}));
    }
    while (held->ends.load() < 2) std::this_thread::sleep_for(5ms);
    report.Put("second_ended", 1);
  } else if (scenario == "download_then_exit") {
    // Starts a long threaded download on card 0 and holds its first
    // Progress event (the download waits for it) until the test lets it
    // go (the "go" file); then ends. The handler's state is its own: it
    // may still be called while this thread ends.
    struct Held {
      std::string go;
      std::atomic<bool> under_way{false};
      std::atomic<bool> let_go{false};
    };
    auto held = std::make_shared<Held>();
    held->go = std::string(file) + ".go";
    auto sink = automation::MakeEventSink(
        k_IZimoDeviceEvents, [held](DispId id, std::span<Variant>, Variant*) {
          if (id == kEventProgress && !held->under_way.exchange(true)) {
            while (!std::filesystem::exists(held->go)) std::this_thread::sleep_for(5ms);
            held->let_go = true;
          }
          return S_OK;
        });
    uint32_t cookie = 0;
    ASSERT_EQ(o->Advise(kIid_IZimoDeviceEvents, sink, &cookie), S_OK);
    ASSERT_EQ(Call(*o, kOpen, {Variant(0)}), S_OK);
    report.Put("download_hr",
               Call(*o, kDownloadAsynch,
                    {Variant(0), Text(file), Variant(0), Variant(0), Variant(0), Variant(1)}));
    while (!held->under_way) std::this_thread::sleep_for(5ms);
    report.Put("under_way", 1);
    while (!held->let_go) std::this_thread::sleep_for(5ms);
  }
}

// ---- the test side ----------------------------------------------------

class DeviceClientsTest : public DeviceServerTest {
 protected:
  // Runs the client `role`, which downloads forty lines and answers every
  // Progress event with a call on the same card (defined below).
  void ExpectHandlerCallsServed(const char* role);

  // A client process running the helper case `which`, reporting into
  // `*out`.
  platform::Process SpawnClient(const std::string& which, const std::string& file,
                                std::string* out) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
      ADD_FAILURE() << "no program path";
      return platform::Process();
    }
    self[n] = '\0';
    *out = Home() + "/client-" + which + "-" + std::to_string(++clients_);
    platform::SpawnOptions options;
    options.environment = {"ZIMO_CLIENT_CASE=" + which, "ZIMO_CLIENT_OUT=" + *out,
                           "ZIMO_CLIENT_FILE=" + file};
    options.quiet = true;
    auto client = platform::Spawn(
        {self, "--gtest_also_run_disabled_tests", "--gtest_filter=DeviceClientHelper.DISABLED_Run"},
        options);
    if (!client.ok()) {
      ADD_FAILURE() << client.status().ToString();
      return platform::Process();
    }
    return std::move(*client);
  }

  // What a client reported so far.
  static std::map<std::string, std::string> ReportOf(const std::string& out) {
    std::map<std::string, std::string> result;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) {
        result[line] = "";
      } else {
        result[line.substr(0, eq)] = line.substr(eq + 1);
      }
    }
    return result;
  }

  // Waits for a client's end and gives its report; a client that has not
  // ended within `limit` fails the test, and it and the server are killed
  // so nothing waits on them.
  std::map<std::string, std::string> CollectClient(platform::Process& client,
                                                   const std::string& which, const std::string& out,
                                                   std::chrono::seconds limit) {
    if (!client.valid()) return {};
    auto code = client.Wait(limit);
    if (!code.ok()) {
      ADD_FAILURE() << "client \"" << which << "\" did not end within " << limit.count() << " s";
      (void)client.Signal(SIGKILL);
      (void)client.Wait();
      KillServer();
      return {};
    }
    EXPECT_EQ(*code, 0) << which;
    std::map<std::string, std::string> result = ReportOf(out);
    EXPECT_EQ(result.count("done"), 1u) << which;
    return result;
  }

  // Runs the helper case `which` as a process of its own and gives its
  // report (see CollectClient).
  std::map<std::string, std::string> RunClient(const std::string& which,
                                               std::chrono::seconds limit = 60s,
                                               const std::string& file = "") {
    std::string out;
    platform::Process client = SpawnClient(which, file, &out);
    return CollectClient(client, which, out, limit);
  }

  // The server of this home, from the pid it wrote into the shared table.
  pid_t ServerPid() {
    auto table = platform::FileMapping::Open("ZimoSharedMemory");
    if (!table.ok()) return 0;
    pid_t pid = 0;
    std::memcpy(&pid, static_cast<const uint8_t*>(table->data()) + 0x1DFF8, 4);
    return pid;
  }
  void KillServer() {
    const pid_t pid = ServerPid();
    if (pid > 0) ::kill(pid, SIGKILL);
    objects_.clear();
    for (auto& c : connections_) c.Close();
  }

  // Starts the server (by activation) without this process holding an
  // object: every call of the test goes through a client process.
  void StartServer() {
    ASSERT_NE(NewClient(), nullptr);
    server_pid_ = ServerPid();
    ASSERT_GT(server_pid_, 0);
  }

  // The server started by hand (its standard output in a file of the
  // home); the clients' activation finds it running.
  void StartServerByHand() {
    const std::string server = (zimo::testing::BinDir() / "zimoserver").string();
    server_out_ = Home() + "/server.out";
    auto p = platform::Spawn({"/bin/sh", "-c", "exec \"$0\" > \"$1\" 2>&1", server, server_out_});
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    server_ = std::move(*p);
    ASSERT_TRUE(Eventually([&] {
      return ServerOutput().find("device 0 opened") != std::string::npos;
    })) << ServerOutput();
    ASSERT_TRUE(Eventually(
        [&] { return std::filesystem::exists(automation::ClassObjectPath(kClsidZimoDevice)); }));
  }
  std::string ServerOutput() const {
    std::ifstream in(server_out_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Whether the server started by hand ended within `limit` (else it is
  // killed).
  bool ServerEnds(std::chrono::seconds limit) {
    auto code = server_.Wait(limit);
    if (!code.ok()) {
      (void)server_.Signal(SIGKILL);
      (void)server_.Wait();
      server_ = platform::Process();
      return false;
    }
    EXPECT_EQ(*code, 0);
    server_ = platform::Process();
    return true;
  }
  void TearDown() override {
    if (server_.valid()) {
      (void)server_.Signal(SIGKILL);
      (void)server_.Wait();
    }
    DeviceServerTest::TearDown();
  }

  // The answer of a fresh client's I10 on card 0: the server still serves.
  std::string StillServes() { return RunClient("ask", 60s)["ask"]; }

  int clients_ = 0;
  pid_t server_pid_ = 0;
  platform::Process server_;
  std::string server_out_;
};

std::string WriteProgram(const std::string& path, int lines) {
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < lines; ++i) out << "P" << (100 + i) << "=" << i << "\r\n";
  return path;
}

TEST_F(DeviceClientsTest, ReadingFromADeviceWithNoKeyEndsWithTheFailureStatus) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  auto r = RunClient("not_open", 60s);
  ASSERT_EQ(r.count("done"), 1u);
  // The failure status's error bits are kept; none of the calls is taken
  // for a clean one.
  const std::string failure = std::to_string(0x70000000);
  EXPECT_EQ(r["buffer_hr"], std::to_string(S_FALSE));
  EXPECT_EQ(r["buffer_error"], failure);
  EXPECT_EQ(r["buffered_hr"], std::to_string(S_FALSE));
  EXPECT_EQ(r["buffered_error"], failure);
  EXPECT_EQ(r["response_hr"], std::to_string(S_FALSE));
  EXPECT_EQ(r["response_error"], failure);
  EXPECT_EQ(StillServes(), "0 3713707\\r");
}

// Each line of the program reached card 0 once, in order.
void ExpectEachLineOnce(const std::vector<std::string>& log, int lines) {
  std::vector<std::string> got;
  for (const std::string& e : log) {
    if (e.size() > 1 && e[0] == 'P' && e.find('=') != std::string::npos) got.push_back(e);
  }
  std::vector<std::string> want;
  for (int i = 0; i < lines; ++i) want.push_back("P" + std::to_string(100 + i) + "=" + std::to_string(i));
  EXPECT_EQ(got, want);
}

// Each call must get its own reply, the download none of theirs, every line
// reach the card once, and the server go on serving others.
void DeviceClientsTest::ExpectHandlerCallsServed(const char* role) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string program = WriteProgram(Home() + "/forty.pmc", 40);
  auto r = RunClient(role, 45s, program);
  ASSERT_EQ(r.count("done"), 1u);
  EXPECT_EQ(r["download_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["errors"], "0");
  EXPECT_GE(std::stoi(r["progress_events"]), 8);
  EXPECT_EQ(r["good_answers"], r["progress_events"]);
  ExpectEachLineOnce(control_.Log(0), 40);
  EXPECT_EQ(StillServes(), "0 3713707\\r");
}

// A synchronous download whose every Progress event is answered by a call
// on the same card: each call gets its own reply and the download none of
// theirs (no line reported as failed, none resent).
TEST_F(DeviceClientsTest, CallsMadeFromADownloadsProgressTakeNoneOfItsReplies) {
  ExpectHandlerCallsServed("progress_calls_back");
}

// The same from a threaded download: the handler's call is served while
// the download runs, and the server goes on serving others.
TEST_F(DeviceClientsTest, AHandlerMayCallTheCardDuringItsOwnThreadedDownload) {
  ExpectHandlerCallsServed("progress_calls_back_async");
}

// A client releases its object while that object's threaded download to
// card 0 waits for the card (another process holds its lock): the next call
// of the same client, on card 1, is served before the download has sent a
// line; once the card is free the download runs whole and the server goes
// on serving.
TEST_F(DeviceClientsTest, ReleasingAnObjectDuringItsThreadedDownloadHoldsUpNoCall) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string program = WriteProgram(Home() + "/forty.pmc", 40);
  ASSERT_NE(OpenZimoDevice(0), 0u);
  std::string out;
  platform::Process client = SpawnClient("release_during_download", program, &out);
  ASSERT_TRUE(Eventually([&] { return ReportOf(out).count("opened") == 1; }));
  ASSERT_EQ(LockZimo(0), 0u);
  std::ofstream(program + ".locked").put('1');
  const bool served = Eventually([&] { return ReportOf(out).count("ask_hr") == 1; });
  const std::vector<std::string> before = control_.Log(0);
  ReleaseZimo(0);
  EXPECT_TRUE(served) << "the call after the release waited for the download";
  EXPECT_TRUE(std::none_of(before.begin(), before.end(),
                           [](const std::string& e) { return e.rfind("P1", 0) == 0; }));
  auto r = CollectClient(client, "release_during_download", out, 60s);
  EXPECT_EQ(r["download_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["ask_hr"], std::to_string(S_OK));
  EXPECT_TRUE(Eventually([&] {
    const std::vector<std::string> log = control_.Log(0);
    return std::find(log.begin(), log.end(), "P139=39") != log.end();
  }));
  ExpectEachLineOnce(control_.Log(0), 40);
  CloseZimoDevice(0);
  corvan::App().End();
  EXPECT_EQ(StillServes(), "0 3713707\\r");
}

// An object holding card 1's lock whose last reference goes on the worker
// of its own threaded download (the worker was firing its event when the
// client let go): the lock, taken on the serving thread, is given back
// there, and another process's library gets card 1.
TEST_F(DeviceClientsTest, AnObjectReleasedOnADownloadWorkerGivesBackItsLocks) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string program = WriteProgram(Home() + "/forty.pmc", 40);
  auto r = RunClient("locking_object_released_on_worker", 60s, program);
  EXPECT_EQ(r["lock_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["download_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["after_release"], "0");
  EXPECT_EQ(RunClient("lock_card_1", 20s)["lock"], "0");
}

// How many times the card took the line `line`.
int TimesTaken(const std::vector<std::string>& log, const std::string& line) {
  return static_cast<int>(std::count(log.begin(), log.end(), line));
}

// The handler of a threaded download's last Progress event starts the next
// download on the same card: the call is served (the server does not wait
// for the worker that waits for the handler) and both runs reach the card
// whole.
TEST_F(DeviceClientsTest, TheLastProgressOfAThreadedDownloadMayStartTheNext) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string program = WriteProgram(Home() + "/forty.pmc", 40);
  auto r = RunClient("chain_from_last_progress", 30s, program);
  EXPECT_EQ(r["download_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["chained_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["second_ended"], "1");
  const std::vector<std::string> log = control_.Log(0);
  EXPECT_EQ(TimesTaken(log, "P100=0"), 2);
  EXPECT_EQ(TimesTaken(log, "P139=39"), 2);
  EXPECT_EQ(StillServes(), "0 3713707\\r");
}

// Another object of the client, with card 0 open, is released during the
// download (its close waits for the download's end); the last Progress
// event's handler takes card 0's lock and the client then starts the next
// download and gives the lock back: each call is served, though the kept
// close waits for that lock, and the second run reaches the card.
TEST_F(DeviceClientsTest, AClosePendingOnALockedCardHoldsUpNoNextDownload) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string program = WriteProgram(Home() + "/forty.pmc", 40);
  auto r = RunClient("lock_in_last_progress", 30s, program);
  EXPECT_EQ(r["download_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["after_release"], "0");
  EXPECT_EQ(r["lock_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["second_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["unlock_hr"], std::to_string(S_OK));
  EXPECT_EQ(r["second_ended"], "1");
  EXPECT_EQ(TimesTaken(control_.Log(0), "P139=39"), 2);
  EXPECT_EQ(StillServes(), "0 3713707\\r");
}

// A client killed while its threaded download waits for its handler: the
// download goes on to its last line without it, other clients are served,
// and the next download runs.
TEST_F(DeviceClientsTest, AClientKilledDuringItsThreadedDownloadLeavesTheServerServing) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string program = WriteProgram(Home() + "/forty.pmc", 40);
  std::string out;
  platform::Process client = SpawnClient("download_then_exit", program, &out);
  ASSERT_TRUE(Eventually([&] { return ReportOf(out).count("under_way") == 1; }));
  ASSERT_TRUE(client.Signal(SIGKILL).ok());
  (void)client.Wait();
  EXPECT_EQ(StillServes(), "0 3713707\\r");
  EXPECT_TRUE(Eventually([&] {
    const std::vector<std::string> log = control_.Log(0);
    return std::find(log.begin(), log.end(), "P139=39") != log.end();
  }));
  auto r = RunClient("progress_calls_back_async", 30s, program);
  EXPECT_EQ(r["download_hr"], std::to_string(S_OK));
}

// A termination while a client's threaded download waits for the client's
// handler of its Progress event, the client ending right after: the server
// stops the download (closing the card's buffer) and ends within its
// limits, leaving its single-instance mutex free.
TEST_F(DeviceClientsTest, ATerminationDuringAThreadedDownloadWhoseClientEndsStillEndsTheServer) {
  ASSERT_NO_FATAL_FAILURE(StartServerByHand());
  const std::string program = WriteProgram(Home() + "/long.pmc", 5000);
  std::string out;
  platform::Process client = SpawnClient("download_then_exit", program, &out);
  ASSERT_TRUE(Eventually([&] { return ReportOf(out).count("under_way") == 1; }));
  ASSERT_TRUE(server_.Signal(SIGTERM).ok());
  std::ofstream(program + ".go").put('1');
  auto r = CollectClient(client, "download_then_exit", out, 30s);
  EXPECT_EQ(r["download_hr"], std::to_string(S_OK));
  const bool ended = ServerEnds(20s);
  EXPECT_TRUE(ended) << "the server did not end within 20 s\n" << ServerOutput();
  EXPECT_NE(ServerOutput().find("ZimoServer: ended"), std::string::npos) << ServerOutput();
  auto mutex = platform::NamedMutex::Create("ZimoServer Mutex");
  ASSERT_TRUE(mutex.ok());
  EXPECT_FALSE(mutex->already_existed());
  // The download was stopped, in order: the card's open buffer was closed
  // after the last line that went out (the control characters of the bus
  // link aside).
  std::string last;
  for (const std::string& e : control_.Log(0)) {
    if (!e.empty() && e[0] != '^') last = e;
  }
  EXPECT_EQ(last, "CLOSE");
}

}  // namespace
}  // namespace zimo::server::testing
