// Calls, objects and events between a client and a server over the socket.
// The server runs in this process on a thread of its own; the clients use
// connections of their own, as other processes would.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "automation/activation.h"
#include "automation/event_sink.h"
#include "automation/local_server.h"
#include "automation/server_lifetime.h"
#include "platform/unix_socket.h"
#include "src/wire.h"
#include "temp_home.h"
#include "tests/test_objects.h"

namespace zimo::automation {
namespace {

using namespace std::chrono_literals;
using testing::TestObject;

constexpr Guid kTestClsid = MakeGuid(0x5A1D0001, 0x0003, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 3});

// Polls `done` for up to 10 s: for things that must happen.
template <typename F>
bool Eventually(F done) {
  for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return done();
}

class CountedObject : public TestObject {
 public:
  explicit CountedObject(ServerLifetime* lifetime) : lock_(lifetime) {}

 private:
  ModuleLock lock_;
};

class RemoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Listen("test").ok());
    ASSERT_TRUE(server_
                    .RegisterClassObject(kTestClsid,
                                         [this](std::shared_ptr<Dispatch>* out) {
                                           if (shared_) {
                                             *out = shared_;
                                           } else {
                                             *out = std::make_shared<CountedObject>(&lifetime_);
                                           }
                                           return S_OK;
                                         })
                    .ok());
    serving_ = std::thread([this] { server_.Run(); });
  }
  void TearDown() override {
    server_.Quit();
    serving_.join();
    server_.Shutdown();
  }

  ServerConnection Connect() {
    auto c = ServerConnection::Open(server_.socket_path());
    EXPECT_TRUE(c.ok()) << c.status().ToString();
    return c.ok() ? std::move(*c) : ServerConnection();
  }
  std::shared_ptr<Dispatch> Create(ServerConnection& c) {
    std::shared_ptr<Dispatch> object;
    EXPECT_EQ(c.CreateInstance(kTestClsid, &object), S_OK);
    return object;
  }

  zimo::testing::TempHome home_;
  ServerLifetime lifetime_{nullptr};
  std::shared_ptr<TestObject> shared_;  // when set, every client gets this one object
  LocalServer server_;
  std::thread serving_;
};

TEST_F(RemoteTest, CallsCarryArgumentsOutParametersAndErrors) {
  ServerConnection c = Connect();
  auto object = Create(c);
  ASSERT_NE(object, nullptr);

  Variant sum;
  ASSERT_EQ(object->Call(1, kMethod, {Variant(int16_t{2}), Variant(u"40")}, &sum), S_OK);
  EXPECT_EQ(sum, Variant(42));

  // Out texts come back; null and empty stay apart.
  for (const Bstr& text : {Bstr(), Bstr(u""), Bstr(u"\u00e9t\u00e9")}) {
    Variant copy(u"old");
    ASSERT_EQ(object->Call(2, kMethod, {Variant(text), Variant::ByRef(&copy, VT_BSTR)}), S_OK);
    EXPECT_EQ(copy, Variant(text));
  }

  // An in/out array is changed where the caller has it, bounds kept.
  SafeArray data = SafeArray::Vector(VT_I4, 4, -2);
  data.As<int32_t>()[3] = 7;
  Variant arg(std::move(data));
  ASSERT_EQ(object->Call(4, kMethod, {Variant::ByRef(&arg), Variant(6)}), S_OK);
  EXPECT_EQ(arg.array().As<int32_t>()[3], 42);
  EXPECT_EQ(arg.array().bound(0).lower, -2);

  std::vector<Variant> raise = {Variant(1016)};
  ExcepInfo e;
  EXPECT_EQ(object->Invoke(5, kMethod, raise, nullptr, &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.code, 1016);
  EXPECT_EQ(e.description.ToUtf8(), "raised on purpose");

  DispId id = 0;
  EXPECT_EQ(object->GetIdOfName("ISPOSITIVE", &id), S_OK);
  EXPECT_EQ(id, 6);
  EXPECT_EQ(object->GetIdOfName("Nothing", &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(object->Call(77, kMethod, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(object->Call(2, kMethod, {Variant(u"x"), Variant()}), E_POINTER);
}

TEST_F(RemoteTest, ObjectsLiveWhileAClientHoldsThem) {
  ServerConnection c = Connect();
  auto object = Create(c);
  EXPECT_EQ(lifetime_.count(), 1);
  Variant child;
  ASSERT_EQ(object->Call(10, kMethod, {}, &child), S_OK);
  ASSERT_EQ(child.vt(), VT_DISPATCH);
  Variant sum;
  ASSERT_EQ(child.dispatch()->Call(1, kMethod, {Variant(1), Variant(2)}, &sum), S_OK);
  EXPECT_EQ(sum, Variant(3));
  child = Variant();
  object.reset();
  EXPECT_TRUE(Eventually([&] { return lifetime_.count() == 0; }));

  // A client that goes away releases what it held.
  auto again = Create(c);
  EXPECT_EQ(lifetime_.count(), 1);
  c.Close();
  EXPECT_TRUE(Eventually([&] { return lifetime_.count() == 0; }));
  EXPECT_EQ(again->Call(1, kMethod, {Variant(1), Variant(2)}), RPC_E_DISCONNECTED);
}

struct Received {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<int32_t> ticks;
  HRESULT callback = E_FAIL;

  void Add(int32_t v) {
    std::lock_guard lock(mu);
    ticks.push_back(v);
    cv.notify_all();
  }
  bool WaitFor(size_t n) {
    std::unique_lock lock(mu);
    return cv.wait_for(lock, 10s, [&] { return ticks.size() >= n; });
  }
};

TEST_F(RemoteTest, EventsReachEveryClientWhileOneCallsBackFromItsHandler) {
  shared_ = std::make_shared<TestObject>();
  ServerConnection ca = Connect();
  ServerConnection cb = Connect();
  auto a = Create(ca);
  auto b = Create(cb);
  Received got_a, got_b;
  // Client A calls the server from inside its handler (the server is busy
  // delivering this very event to it).
  auto sink_a = MakeEventSink(testing::kTestEvents, [&](DispId, std::span<Variant> args, Variant*) {
    Variant sum;
    HRESULT hr = a->Call(1, kMethod, {args[0], Variant(1)}, &sum);
    {
      std::lock_guard lock(got_a.mu);
      got_a.callback = hr;
    }
    got_a.Add(sum.vt() == VT_I4 ? sum.i4() : -1);
    return S_OK;
  });
  auto sink_b = MakeEventSink(testing::kTestEvents, [&](DispId, std::span<Variant> args, Variant*) {
    got_b.Add(args[0].i4());
    return S_OK;
  });
  uint32_t cookie_a = 0, cookie_b = 0;
  ASSERT_EQ(a->Advise(testing::kTestEventsIid, sink_a, &cookie_a), S_OK);
  ASSERT_EQ(b->Advise(testing::kTestEventsIid, sink_b, &cookie_b), S_OK);

  // From a worker thread of the server.
  ASSERT_EQ(b->Call(9, kMethod, {Variant(10)}), S_OK);
  ASSERT_TRUE(got_a.WaitFor(1));
  ASSERT_TRUE(got_b.WaitFor(1));
  EXPECT_EQ(got_a.callback, S_OK);
  EXPECT_EQ(got_a.ticks[0], 11);
  EXPECT_EQ(got_b.ticks[0], 10);

  // From the server's own dispatching thread, inside a client's call: the
  // call returns only after both sinks answered.
  ASSERT_EQ(b->Call(8, kMethod, {Variant(20)}), S_OK);
  EXPECT_EQ(got_a.ticks.size(), 2u);
  EXPECT_EQ(got_a.ticks[1], 21);
  EXPECT_EQ(got_b.ticks.size(), 2u);
  Variant answered;
  ASSERT_EQ(b->Call(3, kPropertyGet, {}, &answered), S_OK);
  EXPECT_EQ(answered, Variant(2));

  EXPECT_EQ(b->Unadvise(testing::kTestEventsIid, cookie_b + 100), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(b->Unadvise(testing::kTestEventsIid, cookie_b), S_OK);
  EXPECT_EQ(b->Unadvise(testing::kTestEventsIid, cookie_b), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(a->Advise(testing::kTestIid, sink_a, &cookie_a), CONNECT_E_NOCONNECTION);
}

TEST_F(RemoteTest, AClientThatLeftIsSkippedWhenEventsAreFired) {
  shared_ = std::make_shared<TestObject>();
  ServerConnection ca = Connect();
  ServerConnection cb = Connect();
  auto a = Create(ca);
  auto b = Create(cb);
  Received got_b;
  uint32_t cookie = 0;
  ASSERT_EQ(a->Advise(testing::kTestEventsIid,
                      MakeEventSink(testing::kTestEvents, [](DispId, std::span<Variant>, Variant*) {
                        return S_OK;
                      }),
                      &cookie),
            S_OK);
  ASSERT_EQ(b->Advise(testing::kTestEventsIid,
                      MakeEventSink(testing::kTestEvents,
                                    [&](DispId, std::span<Variant> args, Variant*) {
                                      got_b.Add(args[0].i4());
                                      return S_OK;
                                    }),
                      &cookie),
            S_OK);
  ca.Close();
  ASSERT_EQ(b->Call(8, kMethod, {Variant(5)}), S_OK);
  EXPECT_EQ(got_b.ticks, std::vector<int32_t>{5});
  Variant answered;
  ASSERT_EQ(b->Call(3, kPropertyGet, {}, &answered), S_OK);
  EXPECT_EQ(answered, Variant(1));
}

// Frames a connection must refuse. Each is sent on a connection of its own.
std::vector<uint8_t> Frame(wire::Kind kind, std::vector<uint8_t> body, uint32_t call_id = 1) {
  std::vector<uint8_t> f(wire::kHeaderSize);
  wire::EncodeHeader({kind, 0, static_cast<uint32_t>(body.size()), call_id}, f.data());
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

std::vector<uint8_t> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(RemoteTest, AMalformedFrameClosesThatConnectionOnly) {
  ServerConnection good = Connect();
  auto object = Create(good);
  // An object id the server handed out: the first object of the first client.
  const std::vector<uint8_t> object_1 = Le32(1);
  const std::vector<uint8_t> invoke_head = Cat({object_1, Le32(1) /*dispid*/, {1, 0} /*flags*/});
  std::vector<uint8_t> huge_length(wire::kHeaderSize);
  wire::EncodeHeader({wire::Kind::kInvoke, 0, 0, 1}, huge_length.data());
  const uint32_t too_big = wire::kMaxBody + 1;
  std::memcpy(huge_length.data() + 4, &too_big, 4);
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> bad = {
      {"wrong magic", {'X', 'Y', 2, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
      {"unknown kind", {'Z', 'A', 9, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
      {"length past the limit", huge_length},
      {"reply to nothing", Frame(wire::Kind::kReply, {0, 0, 0, 0}, 4242)},
      {"call on an object never given",
       Frame(wire::Kind::kInvoke, Cat({Le32(999), Le32(1), {1, 0, 0, 0}}))},
      {"more arguments than bytes",
       Frame(wire::Kind::kInvoke, Cat({invoke_head, {0xFF, 0xFF}, {3, 0}}))},
      {"array longer than the frame",
       Frame(wire::Kind::kInvoke,
             Cat({invoke_head, {1, 0}, {0x03, 0x20, 1}, Le32(0), Le32(0x10000000)}))},
      {"text longer than the frame",
       Frame(wire::Kind::kInvoke, Cat({invoke_head, {1, 0}, {VT_BSTR, 0, 1}, Le32(0x7FFFFFFF)}))},
      {"unknown value kind", Frame(wire::Kind::kInvoke, Cat({invoke_head, {1, 0}, {0x77, 0}}))},
      {"reference inside an array",
       Frame(wire::Kind::kInvoke,
             Cat({invoke_head, {1, 0}, {0x0C, 0x20, 1}, Le32(0), Le32(1), {0x03, 0x40, 3, 0}}))},
      {"trailing bytes", Frame(wire::Kind::kRelease, Cat({Le32(1), Le32(1), {0}}))},
  };
  for (const auto& [what, bytes] : bad) {
    auto raw = platform::UnixConnection::Connect(server_.socket_path());
    ASSERT_TRUE(raw.ok());
    ASSERT_TRUE(raw->SendAll(bytes.data(), bytes.size()).ok()) << what;
    uint8_t buf[64];
    auto got = raw->RecvSome(buf, sizeof buf, 10s);
    EXPECT_EQ(got.status().code(), platform::Code::kClosed) << what;
    // The others are still served, and the object the lie named is intact.
    Variant sum;
    ASSERT_EQ(object->Call(1, kMethod, {Variant(20), Variant(22)}, &sum), S_OK) << what;
    EXPECT_EQ(sum, Variant(42));
  }
  EXPECT_TRUE(Eventually([&] { return server_.connection_count() == 1; }));
}

TEST_F(RemoteTest, ActivationFindsARunningClassObject) {
  std::shared_ptr<Dispatch> object;
  ASSERT_EQ(CreateInstance(kTestClsid, &object), S_OK);
  Variant sum;
  ASSERT_EQ(object->Call(1, kMethod, {Variant(1), Variant(1)}, &sum), S_OK);
  EXPECT_EQ(sum, Variant(2));
  // Nothing runs and nothing is registered for another class.
  const Guid other = MakeGuid(0x5A1D0001, 0x0004, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 4});
  EXPECT_EQ(CreateInstance(other, &object, {std::chrono::milliseconds(100)}), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CreateInstance("No.Such.Class", &object), CO_E_CLASSSTRING);
}

TEST_F(RemoteTest, CallsFailOnceTheServerHasGone) {
  ServerConnection c = Connect();
  auto object = Create(c);
  server_.Quit();
  serving_.join();
  server_.Shutdown();
  EXPECT_EQ(object->Call(1, kMethod, {Variant(1), Variant(2)}), RPC_E_DISCONNECTED);
  serving_ = std::thread([] {});  // for TearDown
}

}  // namespace
}  // namespace zimo::automation
