#include "corvan/internal/rings.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "corvan/internal/ring_locks.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

// A zero-filled table on the heap, as a fresh section is.
class RingsTest : public ::testing::Test {
 protected:
  RingsTest() : table_(new SharedDeviceTable()), rings_(table_.get()) {}

  std::string TakeUs(std::uint32_t device = 0, std::uint32_t limit = 16999) {
    std::vector<char> buffer(limit + 1, 'x');
    EXPECT_EQ(rings_.GetUSResponse(device, buffer.data(), limit), 1);
    return std::string(buffer.data());
  }
  std::string TakeChange(std::uint32_t device = 0, std::uint32_t limit = 255) {
    std::vector<char> buffer(limit + 1, 'x');
    EXPECT_EQ(rings_.ChangeGet(device, buffer.data(), limit), 1);
    return std::string(buffer.data());
  }
  void StoreUs(const std::string& bytes, std::uint32_t device = 0) {
    ASSERT_EQ(rings_.StoreUSResponse(device, bytes.data(), bytes.size()), 1);
  }
  const std::uint8_t* Raw() const { return reinterpret_cast<const std::uint8_t*>(table_.get()); }
  std::uint32_t RawU32(std::size_t offset) const {
    std::uint32_t v;
    std::memcpy(&v, Raw() + offset, sizeof v);
    return v;
  }
  std::uint32_t UsWrite(int device = 0) const { return RawU32(kUsRingWriteOffset + 4 * device); }
  std::uint32_t UsRead(int device = 0) const { return RawU32(kUsRingReadOffset + 4 * device); }

  std::unique_ptr<SharedDeviceTable> table_;
  SharedRings rings_;
};

TEST_F(RingsTest, RecordsLandAtTheirTableOffsets) {
  ASSERT_EQ(rings_.ChangeStore(3, "I48=0"), 1);
  EXPECT_EQ(std::memcmp(Raw() + kChangeRingDataOffset + 3 * kRingSize, "I48=0\r", 6), 0);
  EXPECT_EQ(RawU32(kChangeRingWriteOffset + 4 * 3), 6u) << "text and CR: six bytes";
  EXPECT_EQ(RawU32(kChangeRingReadOffset + 4 * 3), 0u);

  StoreUs("MSG\r", 2);
  EXPECT_EQ(std::memcmp(Raw() + kUsRingDataOffset + 2 * kRingSize, "MSG\r", 4), 0);
  EXPECT_EQ(UsWrite(2), 4u);

  EXPECT_EQ(TakeChange(3), "I48=0");
  EXPECT_EQ(RawU32(kChangeRingReadOffset + 4 * 3), 6u);
  EXPECT_EQ(TakeUs(2), "MSG");
  EXPECT_EQ(UsRead(2), 4u);
  // Each device and kind has its own ring.
  EXPECT_EQ(rings_.ChangeReadReady(2), 0);
  EXPECT_EQ(rings_.USReadReady(3), 0);
}

TEST_F(RingsTest, TakeHandsOutOneLineAtATimeAndConsumesItsCr) {
  StoreUs("AB\rCD\r");
  EXPECT_EQ(rings_.USReadReady(0), 1);
  EXPECT_EQ(TakeUs(), "AB");
  EXPECT_EQ(rings_.USReadReady(0), 1);
  EXPECT_EQ(TakeUs(), "CD");
  EXPECT_EQ(rings_.USReadReady(0), 0);
  EXPECT_EQ(UsRead(), 6u);

  ASSERT_EQ(rings_.ChangeStore(0, "I3=2 I6=1"), 1);
  ASSERT_EQ(rings_.ChangeStore(0, "I48=0"), 1);
  EXPECT_EQ(TakeChange(), "I3=2 I6=1");
  EXPECT_EQ(TakeChange(), "I48=0");
  EXPECT_EQ(rings_.ChangeReadReady(0), 0);
}

TEST_F(RingsTest, FullRingWrapsOnTheNextStore) {
  const std::string full(kRingSize, 'a');
  StoreUs(full);
  EXPECT_EQ(UsWrite(), 2000u) << "a full ring keeps its write index at 2000";
  EXPECT_EQ(rings_.USReadReady(0), 1);

  EXPECT_EQ(TakeUs(), full) << "all 2000 bytes are readable from index 0";
  EXPECT_EQ(UsRead(), 2000u);
  EXPECT_EQ(rings_.USReadReady(0), 0);

  StoreUs("Z\r");
  EXPECT_EQ(Raw()[kUsRingDataOffset + 0], 'Z') << "the next store writes data[0]";
  EXPECT_EQ(UsWrite(), 2u);
  EXPECT_EQ(TakeUs(), "Z");
  EXPECT_EQ(UsRead(), 2u);
}

TEST_F(RingsTest, LineAcrossTheEndOfTheRingComesOutWhole) {
  StoreUs(std::string(1995, 'p') + "\r");  // 1996 bytes
  EXPECT_EQ(TakeUs(), std::string(1995, 'p'));
  StoreUs("0123456789\r");
  EXPECT_EQ(UsWrite(), 7u);
  EXPECT_EQ(TakeUs(), "0123456789");
  EXPECT_EQ(rings_.USReadReady(0), 0);
}

TEST_F(RingsTest, OverrunOverwritesTheOldestUnreadBytes) {
  // 2004 bytes without a reader: the last four land on data[0..3], the write
  // index meets the reader just past them, and what the reader sees is only
  // those four bytes; the 2000 before are lost. That is the ring's contract:
  // a writer never waits.
  StoreUs(std::string(1990, 'a') + "bcdefghijklmn\r");
  EXPECT_EQ(UsWrite(), 4u);
  EXPECT_EQ(TakeUs(), "lmn");
  EXPECT_EQ(rings_.USReadReady(0), 0);
}

TEST_F(RingsTest, TakeAlwaysTerminatesWhatItCopied) {
  // Empty ring: an empty, terminated text (the buffer was filled with 'x').
  EXPECT_EQ(TakeUs(0, 10), "");

  // Limit reached before the CR: the first four characters, terminated;
  // the rest of the line is the next take.
  StoreUs("ABCDEF\r");
  std::array<char, 5> small;
  small.fill('x');
  ASSERT_EQ(rings_.GetUSResponse(0, small.data(), 4), 1);
  EXPECT_EQ(std::string(small.data(), 5), std::string("ABCD\0", 5));
  EXPECT_EQ(TakeUs(), "EF");

  // The ring runs empty inside a line: what was there, terminated and
  // consumed; the line's end comes with the next take.
  StoreUs("XYZ");
  EXPECT_EQ(TakeUs(), "XYZ");
  StoreUs("W\r");
  EXPECT_EQ(TakeUs(), "W");

  // A limit of 0 takes nothing and still terminates.
  StoreUs("Q\r");
  char none = 'x';
  ASSERT_EQ(rings_.GetUSResponse(0, &none, 0), 1);
  EXPECT_EQ(none, '\0');
  EXPECT_EQ(TakeUs(), "Q");
}

TEST_F(RingsTest, OverlongChangeTextIsCutToFitItsRecord) {
  const std::string text(500, 'k');
  ASSERT_EQ(rings_.ChangeStore(0, text.c_str()), 1);
  EXPECT_EQ(RawU32(kChangeRingWriteOffset), 399u) << "398 characters and the CR";
  EXPECT_EQ(TakeChange(0, 1000), std::string(398, 'k'));

  const std::string exact(398, 'e');
  ASSERT_EQ(rings_.ChangeStore(0, exact.c_str()), 1);
  EXPECT_EQ(TakeChange(0, 1000), exact);
  EXPECT_EQ(rings_.ChangeReadReady(0), 0);
}

TEST_F(RingsTest, EmptyChangeTextStoresNothing) {
  EXPECT_EQ(rings_.ChangeStore(0, ""), 0);
  EXPECT_EQ(rings_.ChangeStore(0, nullptr), 0);
  EXPECT_EQ(RawU32(kChangeRingWriteOffset), 0u);
  EXPECT_EQ(rings_.StoreUSResponse(0, nullptr, 3), 0);
  EXPECT_EQ(rings_.StoreUSResponse(0, "", 0), 1) << "storing nothing is not a failure";
  EXPECT_EQ(UsWrite(), 0u);
}

TEST_F(RingsTest, RefusesDevicesWithoutRingsAndAnUnmappedTable) {
  SharedRings unmapped;
  char buffer[8] = "x";
  struct Case {
    SharedRings* rings;
    std::uint32_t device;
  };
  const Case cases[] = {{&rings_, 8}, {&rings_, 9}, {&rings_, 0xFFFFFFFF}, {&unmapped, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    EXPECT_EQ(c.rings->StoreUSResponse(c.device, "A\r", 2), 0);
    EXPECT_EQ(c.rings->GetUSResponse(c.device, buffer, 7), 0);
    EXPECT_EQ(c.rings->USReadReady(c.device), 0);
    EXPECT_EQ(c.rings->ChangeStore(c.device, "I5=1"), 0);
    EXPECT_EQ(c.rings->ChangeGet(c.device, buffer, 7), 0);
    EXPECT_EQ(c.rings->ChangeReadReady(c.device), 0);
  }
  EXPECT_EQ(Raw()[kUsRingDataOffset + 8 * kRingSize], 0) << "the offline slot's ring stays empty";
  EXPECT_EQ(UsWrite(8), 0u);
  EXPECT_EQ(rings_.GetUSResponse(0, nullptr, 7), 0);

  // Mapping the table later makes the same object work.
  unmapped.SetTable(table_.get());
  EXPECT_EQ(unmapped.ChangeStore(1, "I5=1"), 1);
  EXPECT_EQ(TakeChange(1), "I5=1");
}

TEST_F(RingsTest, OutOfRangeIndexesEmptyTheRingInsteadOfReachingPastIt) {
  struct Case {
    std::uint32_t write, read;
  };
  for (const Case& c : {Case{2001, 0}, Case{5, 70000}, Case{0xFFFFFFFF, 0xFFFFFFFF}}) {
    SCOPED_TRACE(::testing::Message() << c.write << "/" << c.read);
    table_->UsRingWrite[4] = c.write;
    table_->UsRingRead[4] = c.read;
    EXPECT_EQ(TakeUs(4), "");
    EXPECT_EQ(UsWrite(4), 0u);
    EXPECT_EQ(UsRead(4), 0u);

    table_->UsRingWrite[4] = c.write;
    table_->UsRingRead[4] = c.read;
    StoreUs("ok\r", 4);
    EXPECT_EQ(TakeUs(4), "ok");
  }
}

// In-process stand-in for the named per-ring mutexes.
class ThreadRingLocks : public RingLocks {
 public:
  bool Lock(RingKind kind, int device) override {
    Mutex(kind, device).lock();
    return true;
  }
  void Unlock(RingKind kind, int device) override { Mutex(kind, device).unlock(); }

 private:
  std::mutex& Mutex(RingKind kind, int device) {
    return mutexes_[kind == RingKind::kChange ? 1 : 0][device];
  }
  std::mutex mutexes_[2][kRealDevices];
};

TEST(RingsConcurrency, ConcurrentWritersNeverInterleaveTheirRecords) {
  auto table = std::make_unique<SharedDeviceTable>();
  ThreadRingLocks locks;
  SharedRings rings(table.get(), &locks);

  // Two writers store records of 25 bytes while a reader takes them. Writers
  // hold back while 1500 bytes are unread, so the ring never overruns and
  // every record must come out whole, none lost.
  constexpr int kRecords = 400;
  constexpr int kMaxUnread = 1500;
  const std::string a_line(24, 'A');
  const std::string b_line(24, 'B');
  for (bool change : {false, true}) {
    SCOPED_TRACE(change ? "change ring" : "unsolicited ring");
    std::atomic<int> stored{0};
    std::atomic<int> taken{0};
    std::atomic<int> writers_left{2};
    auto writer = [&](const std::string& line) {
      const std::string record = line + "\r";
      bool hold_back = true;
      for (int i = 0; i < kRecords; ++i) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (hold_back && stored.load() - taken.load() >= kMaxUnread) {
          if (std::chrono::steady_clock::now() > give_up) hold_back = false;
          std::this_thread::yield();
        }
        stored.fetch_add(static_cast<int>(record.size()));
        if (change) {
          rings.ChangeStore(5, line.c_str());
        } else {
          rings.StoreUSResponse(5, record.data(), record.size());
        }
      }
      writers_left.fetch_sub(1);
    };
    std::map<std::string, int> seen;
    std::thread reader([&] {
      char buffer[256];
      for (;;) {
        const bool done = writers_left.load() == 0;
        const bool ready = change ? rings.ChangeReadReady(5) : rings.USReadReady(5);
        if (!ready) {
          if (done) break;
          std::this_thread::yield();
          continue;
        }
        if (change) {
          rings.ChangeGet(5, buffer, 255);
        } else {
          rings.GetUSResponse(5, buffer, 255);
        }
        ++seen[buffer];
        taken.fetch_add(static_cast<int>(std::strlen(buffer)) + 1);
      }
    });
    std::thread wa(writer, a_line);
    std::thread wb(writer, b_line);
    wa.join();
    wb.join();
    reader.join();
    EXPECT_EQ(seen, (std::map<std::string, int>{{a_line, kRecords}, {b_line, kRecords}}));
  }
}

TEST(RingsConcurrency, WritersInSeveralProcessesShareTheRingThroughItsNamedLock) {
  zimo::testing::TempHome home;
  // The table and a little flow control, shared with the forked writers.
  struct Shared {
    SharedDeviceTable table;
    std::atomic<int> go;
    std::atomic<int> stored;
    std::atomic<int> taken;
  };
  void* view =
      ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(view, MAP_FAILED);
  auto* shared = new (view) Shared();
  ASSERT_EQ(SharedTableAt(&shared->table), &shared->table);

  // Each child writes its own letter in records of 25 bytes, all at once.
  // Writers hold back while 1500 bytes are unread, so the ring never
  // overruns and every record must come out whole. (The hold-back gives up
  // after a while, so a broken ring fails the test instead of hanging it.)
  constexpr int kRecords = 400;
  constexpr int kMaxUnread = 1500;
  const char letters[] = {'A', 'B', 'C'};
  std::vector<pid_t> children;
  for (char letter : letters) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      NamedRingLocks locks;
      SharedRings rings(&shared->table, &locks);
      const std::string record = std::string(24, letter) + "\r";
      int failures = 0;
      while (shared->go.load() == 0) std::this_thread::yield();
      bool hold_back = true;
      for (int i = 0; i < kRecords; ++i) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (hold_back && shared->stored.load() - shared->taken.load() >= kMaxUnread) {
          if (std::chrono::steady_clock::now() > give_up) hold_back = false;
          std::this_thread::yield();
        }
        shared->stored.fetch_add(static_cast<int>(record.size()));
        if (rings.StoreUSResponse(6, record.data(), record.size()) != 1) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }

  NamedRingLocks locks;
  SharedRings rings(&shared->table, &locks);
  std::map<std::string, int> seen;
  char buffer[256];
  auto drain = [&] {
    while (rings.USReadReady(6)) {
      ASSERT_EQ(rings.GetUSResponse(6, buffer, 255), 1);
      ++seen[buffer];
      shared->taken.fetch_add(static_cast<int>(std::strlen(buffer)) + 1);
    }
  };
  shared->go = 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!children.empty() && std::chrono::steady_clock::now() < deadline) {
    drain();
    int status = 0;
    const pid_t done = ::waitpid(-1, &status, WNOHANG);
    if (done > 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a store failed in " << done;
      std::erase(children, done);
    } else {
      std::this_thread::yield();
    }
  }
  for (pid_t pid : children) {
    ADD_FAILURE() << "writer " << pid << " did not finish";
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  drain();
  std::map<std::string, int> expected;
  for (char letter : letters) expected[std::string(24, letter)] = kRecords;
  EXPECT_EQ(seen, expected);
  ::munmap(view, sizeof(Shared));
}

}  // namespace
}  // namespace zimo::corvan
