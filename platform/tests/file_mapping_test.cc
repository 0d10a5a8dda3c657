#include "platform/file_mapping.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/home.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "src/sync_process.h"
#include "sync_test_support.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

using sync_test::Child;
using sync_test::Pipe;

constexpr size_t kTableSize = 0x1E000;

class FileMappingTest : public ::testing::Test {
 protected:
  ~FileMappingTest() override { (void)UnlinkHomeSharedMemory(); }
  zimo::testing::TempHome home_;
};

uint8_t* Bytes(const FileMapping& m) { return static_cast<uint8_t*>(m.data()); }

bool AllEqual(const FileMapping& m, uint8_t value) {
  for (size_t i = 0; i < m.size(); ++i) {
    if (Bytes(m)[i] != value) return false;
  }
  return true;
}

// Files of the current home in /dev/shm.
std::vector<std::string> HomeFiles() {
  std::vector<std::string> names;
  const std::string prefix = "zimo-" + HomeHash() + "-";
  if (DIR* dir = ::opendir("/dev/shm")) {
    while (dirent* e = ::readdir(dir)) {
      if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) names.push_back(e->d_name);
    }
    ::closedir(dir);
  }
  return names;
}

TEST_F(FileMappingTest, ExactSizeZeroFilledAndBookkeepingOutOfReach) {
  for (size_t size :
       {size_t{1}, size_t{100}, size_t{4095}, size_t{4096}, size_t{4097}, kTableSize}) {
    SCOPED_TRACE(size);
    const std::string name = "table" + std::to_string(size);
    Result<FileMapping> created = FileMapping::Create(name, size);
    ASSERT_TRUE(created.ok()) << created.status().ToString();
    EXPECT_FALSE(created->already_existed());
    EXPECT_EQ(created->size(), size);
    EXPECT_TRUE(AllEqual(*created, 0));
    EXPECT_EQ(created->creator_pid(), ::getpid());
    EXPECT_TRUE(created->CreatorAlive());
    // Every byte is the caller's: filling them all harms nothing.
    std::memset(created->data(), 0xA5, size);

    Result<FileMapping> opened = FileMapping::Open(name);
    ASSERT_TRUE(opened.ok()) << opened.status().ToString();
    EXPECT_TRUE(opened->already_existed());
    EXPECT_EQ(opened->size(), size);
    EXPECT_TRUE(AllEqual(*opened, 0xA5));
    EXPECT_EQ(opened->creator_pid(), ::getpid());
  }
}

TEST_F(FileMappingTest, CreateOnAnExistingMappingOpensIt) {
  Result<FileMapping> server = FileMapping::Create("ZimoSharedMemory", kTableSize);
  ASSERT_TRUE(server.ok());
  uint32_t size_field = kTableSize;
  std::memcpy(Bytes(*server), &size_field, sizeof size_field);

  Result<FileMapping> again = FileMapping::Create("ZimoSharedMemory", kTableSize);
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again->already_existed());
  EXPECT_EQ(std::memcmp(again->data(), &size_field, sizeof size_field), 0);
  Result<FileMapping> smaller = FileMapping::Create("ZimoSharedMemory", 0x1000);
  ASSERT_TRUE(smaller.ok());
  EXPECT_EQ(smaller->size(), kTableSize);  // the mapping keeps its own size
  EXPECT_EQ(FileMapping::Create("ZimoSharedMemory", kTableSize + 1).status().code(),
            Code::kInvalidArgument);
}

TEST_F(FileMappingTest, BadRequests) {
  EXPECT_EQ(FileMapping::Open("ZimoSharedMemory").status().code(), Code::kNotFound);
  EXPECT_EQ(FileMapping::Create("ZimoSharedMemory", 0).status().code(), Code::kInvalidArgument);
  EXPECT_EQ(FileMapping::Create("", 16).status().code(), Code::kInvalidArgument);
  EXPECT_EQ(FileMapping::Unlink("ZimoSharedMemory").code(), Code::kNotFound);
  FileMapping empty;
  EXPECT_FALSE(empty.valid());
  EXPECT_FALSE(empty.CreatorAlive());
}

TEST_F(FileMappingTest, TwoProcessesSeeEachOthersWrites) {
  Result<FileMapping> server = FileMapping::Create("ZimoSharedMemory", kTableSize);
  ASSERT_TRUE(server.ok());
  Bytes(*server)[0x1DFF8] = 0x11;
  Pipe wrote, go;
  Child client([&] {
    Result<FileMapping> view = FileMapping::Open("ZimoSharedMemory");
    if (!view.ok() || view->size() != kTableSize || view->creator_pid() != ::getppid()) return 1;
    if (Bytes(*view)[0x1DFF8] != 0x11) return 2;
    Bytes(*view)[0x100] = 0x22;
    wrote.Signal();
    go.Await();
    return Bytes(*view)[0x1DFFF] == 0x33 ? 0 : 3;
  });
  ASSERT_EQ(wrote.Await(), '!');
  EXPECT_EQ(Bytes(*server)[0x100], 0x22);
  Bytes(*server)[0x1DFFF] = 0x33;
  go.Signal();
  EXPECT_EQ(client.Wait(), 0);
}

TEST_F(FileMappingTest, ProcessesCreatingAtOnceGetOneMapping) {
  constexpr int kChildren = 6;
  Pipe go, results, finish;
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<Child>([&, i] {
      go.Await();
      Result<FileMapping> m = FileMapping::Create("ZimoSharedMemory", kTableSize);
      if (!m.ok() || m->size() != kTableSize) {
        results.Signal('X');
        return 1;
      }
      Bytes(*m)[0x100 + i] = 1;  // each marks its own byte of the one table
      results.Signal(m->already_existed() ? 'E' : 'C');
      finish.Await();  // the creator must outlive the others' checks
      return 0;
    }));
  }
  for (int i = 0; i < kChildren; ++i) go.Signal();
  int created = 0, existed = 0;
  for (int i = 0; i < kChildren; ++i) {
    char c = results.Await();
    created += c == 'C';
    existed += c == 'E';
  }
  EXPECT_EQ(created, 1);
  EXPECT_EQ(existed, kChildren - 1);
  Result<FileMapping> view = FileMapping::Open("ZimoSharedMemory");
  ASSERT_TRUE(view.ok());
  for (int i = 0; i < kChildren; ++i) EXPECT_EQ(Bytes(*view)[0x100 + i], 1) << i;
  for (int i = 0; i < kChildren; ++i) finish.Signal();
  for (auto& child : children) EXPECT_EQ(child->Wait(), 0);
}

TEST_F(FileMappingTest, MappingOfADeadCreatorIsAbsentAndMadeAfresh) {
  Pipe created, die;
  Child server([&] {
    Result<FileMapping> m = FileMapping::Create("ZimoSharedMemory", kTableSize);
    if (!m.ok()) return 1;
    Bytes(*m)[7] = 0x77;
    created.Signal();
    die.Await();
    ::raise(SIGKILL);
    return 0;
  });
  ASSERT_EQ(created.Await(), '!');
  Result<FileMapping> view = FileMapping::Open("ZimoSharedMemory");
  ASSERT_TRUE(view.ok());
  EXPECT_EQ(view->creator_pid(), server.pid());
  EXPECT_TRUE(view->CreatorAlive());
  die.Signal();
  EXPECT_EQ(server.Wait(), 128 + SIGKILL);

  // A view in hand keeps its data, and says its creator is gone.
  EXPECT_FALSE(view->CreatorAlive());
  EXPECT_EQ(Bytes(*view)[7], 0x77);
  // To everyone else the mapping no longer exists.
  EXPECT_EQ(FileMapping::Open("ZimoSharedMemory").status().code(), Code::kNotFound);
  Result<FileMapping> restarted = FileMapping::Create("ZimoSharedMemory", kTableSize);
  ASSERT_TRUE(restarted.ok());
  EXPECT_FALSE(restarted->already_existed());
  EXPECT_TRUE(AllEqual(*restarted, 0));
  EXPECT_EQ(restarted->creator_pid(), ::getpid());
  EXPECT_EQ(Bytes(*view)[7], 0x77);  // the old view is a different mapping
}

TEST_F(FileMappingTest, CreatorDyingWhileStillMappingIsCaughtBeforeAnyOpen) {
  // Dead before anyone opened it: Create must not hand out the dead one.
  Child server([] {
    Result<FileMapping> m = FileMapping::Create("NC00.MDI", 64);
    if (!m.ok()) return 1;
    Bytes(*m)[0] = 1;
    ::raise(SIGKILL);
    return 0;
  });
  EXPECT_EQ(server.Wait(), 128 + SIGKILL);
  Result<FileMapping> fresh = FileMapping::Create("NC00.MDI", 128);
  ASSERT_TRUE(fresh.ok());
  EXPECT_FALSE(fresh->already_existed());
  EXPECT_EQ(fresh->size(), 128u);
  EXPECT_TRUE(AllEqual(*fresh, 0));
}

TEST_F(FileMappingTest, ClosingTheCreatingHandleOrUnlinkWithdrawsTheName) {
  Result<FileMapping> created = FileMapping::Create("NC0.0.0", 100);
  ASSERT_TRUE(created.ok());
  Result<FileMapping> view = FileMapping::Open("NC0.0.0");
  ASSERT_TRUE(view.ok());
  *created = FileMapping();
  EXPECT_EQ(FileMapping::Open("NC0.0.0").status().code(), Code::kNotFound);
  Bytes(*view)[99] = 9;  // still usable

  // A new mapping under the name, of another size.
  Result<FileMapping> resized = FileMapping::Create("NC0.0.0", 300);
  ASSERT_TRUE(resized.ok());
  EXPECT_FALSE(resized->already_existed());
  EXPECT_EQ(resized->size(), 300u);
  // Closing the old view does not touch the new mapping.
  *view = FileMapping();
  EXPECT_TRUE(FileMapping::Open("NC0.0.0").ok());

  EXPECT_TRUE(FileMapping::Unlink("NC0.0.0").ok());
  EXPECT_EQ(FileMapping::Open("NC0.0.0").status().code(), Code::kNotFound);
  Bytes(*resized)[299] = 1;
  // A forked copy of the creating handle never withdraws a name.
  Result<FileMapping> parent = FileMapping::Create("NC0.0.1", 10);
  ASSERT_TRUE(parent.ok());
  Child child([&] {
    *parent = FileMapping();
    return 0;
  });
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(FileMapping::Open("NC0.0.1").ok());
}

TEST_F(FileMappingTest, ProcessStampsTellReusedPidsApart) {
  internal::ProcessStamp me = internal::CurrentProcessStamp();
  EXPECT_EQ(me.pid, ::getpid());
  EXPECT_NE(me.start_ticks, 0u);
  EXPECT_TRUE(internal::ProcessAlive(me));
  // Our pid with another start time: an earlier process that had our pid.
  EXPECT_FALSE(internal::ProcessAlive({me.pid, me.start_ticks - 1}));

  Child child([] { return 0; });
  internal::ProcessStamp child_stamp{child.pid(), 0};
  const std::string stat = "/proc/" + std::to_string(child.pid()) + "/stat";
  for (int i = 0; i < 100000 && sync_test::StateOf(stat) != 'Z'; ++i) ::usleep(100);
  // Ended but not yet reaped (a zombie): not alive.
  ASSERT_EQ(sync_test::StateOf(stat), 'Z');
  EXPECT_FALSE(internal::ProcessStartTicks(child.pid()).has_value());
  EXPECT_FALSE(internal::ProcessAlive(child_stamp));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_FALSE(internal::ProcessAlive(child_stamp));
}

TEST_F(FileMappingTest, HomeCleanUpRemovesOnlyThisHomesObjects) {
  std::vector<std::string> other_home_files;
  Result<FileMapping> theirs = Status(Code::kNotFound, "");
  {
    zimo::testing::TempHome other;
    theirs = FileMapping::Create("ZimoSharedMemory", 64);
    ASSERT_TRUE(theirs.ok());
    other_home_files = HomeFiles();
    EXPECT_EQ(other_home_files.size(), 1u);
  }
  Result<FileMapping> table = FileMapping::Create("ZimoSharedMemory", kTableSize);
  Result<NamedMutex> mutex = NamedMutex::Create("MutexZimo0");
  Result<NamedEvent> event = NamedEvent::Create("ETHEvent0", EventReset::kAuto, false);
  ASSERT_TRUE(table.ok() && mutex.ok() && event.ok());
  EXPECT_GE(HomeFiles().size(), 3u);

  EXPECT_TRUE(UnlinkHomeSharedMemory().ok());
  EXPECT_TRUE(HomeFiles().empty());
  for (const std::string& name : other_home_files) {
    EXPECT_EQ(::access(("/dev/shm/" + name).c_str(), F_OK), 0) << name;
    ::unlink(("/dev/shm/" + name).c_str());
  }
  // Handles in hand still work.
  Bytes(*table)[kTableSize - 1] = 1;
  EXPECT_TRUE(mutex->Lock().ok());
  EXPECT_TRUE(mutex->Unlock().ok());
  EXPECT_TRUE(event->Set().ok());
  EXPECT_TRUE(event->Wait(std::chrono::milliseconds(0)).ok());
}

}  // namespace
}  // namespace zimo::platform
