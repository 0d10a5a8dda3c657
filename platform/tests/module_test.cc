#include "platform/module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "platform/process.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

namespace fs = std::filesystem;

// Points ZIMO_BIN_DIR somewhere else for one test.
class ScopedBinDir {
 public:
  explicit ScopedBinDir(const fs::path& dir) {
    if (const char* old = std::getenv("ZIMO_BIN_DIR")) old_ = old;
    ::setenv("ZIMO_BIN_DIR", dir.c_str(), 1);
  }
  ~ScopedBinDir() {
    if (old_) {
      ::setenv("ZIMO_BIN_DIR", old_->c_str(), 1);
    } else {
      ::unsetenv("ZIMO_BIN_DIR");
    }
  }

 private:
  std::optional<std::string> old_;
};

TEST(ModuleNameTest, WindowsNamesMapToSharedLibraries) {
  struct Case {
    const char* name;
    const char* file;
  };
  const Case cases[] = {
      {"Corvan32.dll", "libcorvan32.so"},
      {"CORVAN32.DLL", "libcorvan32.so"},
      {"Corvan32", "libcorvan32.so"},  // Windows adds ".dll"
      {"C:\\Program Files\\Zimo\\Corvan32.dll", "libcorvan32.so"},
      {"C:/Zimo/Corvan32.Dll", "libcorvan32.so"},
      {"VMEMGR.dll", "libvmemgr.so"},
      {"VOCTOKS.OCX", "libvoctoks.so"},
      {"libm.so.6", "libm.so.6"},                // already a library name
      {"/usr/lib/libx.so", "/usr/lib/libx.so"},  // a POSIX path stays
      {"./libcorvan32.so", "./libcorvan32.so"},
  };
  for (const Case& c : cases) EXPECT_EQ(ModuleFileName(c.name), c.file) << c.name;
}

TEST(ModuleNameTest, SearchBesideTheProgramThenTheBinDirThenTheLoader) {
  testing::TempHome home;
  ScopedBinDir bin(home.path());
  EXPECT_EQ(ModuleSearchPaths("Corvan32.dll"),
            (std::vector<fs::path>{ExecutableDir() / "libcorvan32.so",
                                   home.path() / "libcorvan32.so", "libcorvan32.so"}));
  EXPECT_EQ(ModuleSearchPaths("/opt/x/libq.so"), std::vector<fs::path>{"/opt/x/libq.so"});

  ScopedBinDir same(ExecutableDir());  // the same folder is not searched twice
  EXPECT_EQ(ModuleSearchPaths("Corvan32.dll"),
            (std::vector<fs::path>{ExecutableDir() / "libcorvan32.so", "libcorvan32.so"}));
}

TEST(ModuleTest, LoadsASystemLibraryAndResolvesItsFunctions) {
  Result<Module> libm = Module::Load("libm.so.6");
  ASSERT_TRUE(libm.ok()) << libm.status().ToString();
  Result<double (*)(double)> cosine = libm->Function<double(double)>("cos");
  ASSERT_TRUE(cosine.ok()) << cosine.status().ToString();
  EXPECT_DOUBLE_EQ((*cosine)(0.0), 1.0);
  EXPECT_EQ(ModulePathOf(reinterpret_cast<const void*>(*cosine)), libm->Path());
  EXPECT_NE(libm->Path().filename().string().find("libm"), std::string::npos);

  Result<void*> missing = libm->Symbol("ZimoNoSuchFunction");
  EXPECT_EQ(missing.status().code(), Code::kNotFound);
  EXPECT_NE(missing.status().message().find("ZimoNoSuchFunction"), std::string::npos);

  EXPECT_TRUE(libm->Free().ok());
  EXPECT_FALSE(libm->loaded());
  EXPECT_FALSE(libm->Symbol("cos").ok());
  EXPECT_TRUE(libm->Free().ok());  // a second free is harmless
}

// A Windows name finds the library in ZIMO_BIN_DIR. The library is a copy of
// the system's zlib under the mapped name, so no extra library is built.
TEST(ModuleTest, WindowsNameFindsTheLibraryInTheBinDir) {
  fs::path zlib;
  for (const char* p : {"/lib/x86_64-linux-gnu/libz.so.1", "/usr/lib/x86_64-linux-gnu/libz.so.1",
                        "/usr/lib64/libz.so.1", "/lib64/libz.so.1"}) {
    if (fs::exists(p)) {
      zlib = p;
      break;
    }
  }
  if (zlib.empty()) GTEST_SKIP() << "no zlib on this machine";
  testing::TempHome home;
  fs::copy_file(zlib, home.path() / "libzimoprobe.so");
  ScopedBinDir bin(home.path());

  Result<Module> probe = Module::Load("C:\\Zimo\\ZimoProbe.DLL");
  ASSERT_TRUE(probe.ok()) << probe.status().ToString();
  EXPECT_EQ(probe->Path(), fs::canonical(home.path() / "libzimoprobe.so"));
  using VersionFn = const char*();
  Result<VersionFn*> version = probe->Function<VersionFn>("zlibVersion");
  ASSERT_TRUE(version.ok()) << version.status().ToString();
  EXPECT_NE((*version)(), nullptr);
}

TEST(ModuleTest, FailuresNameTheModuleAndTheLoadersReason) {
  testing::TempHome home;
  ScopedBinDir bin(home.path());
  Result<Module> missing = Module::Load("NOSUCHMGR.dll");
  EXPECT_EQ(missing.status().code(), Code::kNotFound);
  EXPECT_NE(missing.status().message().find("NOSUCHMGR.dll"), std::string::npos);
  EXPECT_NE(missing.status().message().find("libnosuchmgr.so"), std::string::npos);

  std::ofstream(home.path() / "libbroken.so") << "not a library\n";
  Result<Module> broken = Module::Load("Broken.dll");
  EXPECT_EQ(broken.status().code(), Code::kBadData);
  EXPECT_NE(broken.status().message().find((home.path() / "libbroken.so").string()),
            std::string::npos);

  EXPECT_EQ(Module::Load("").status().code(), Code::kInvalidArgument);
}

void FunctionOfThisProgram() {}

TEST(ModuleTest, OwnModuleOfCodeInTheProgramIsTheProgram) {
  EXPECT_EQ(ModulePathOf(reinterpret_cast<const void*>(&FunctionOfThisProgram)), ExecutablePath());
  EXPECT_TRUE(ModulePathOf(nullptr).empty());
}

// Plain handles, as a language module slot hands them out: a reference to
// what is loaded already, a library loaded by its file, and the file each
// stands for.
TEST(ModuleTest, PlainHandlesReferToTheirFiles) {
  void* own = OpenModuleHandleOf(reinterpret_cast<const void*>(&FunctionOfThisProgram));
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(ModuleHandlePath(own), ExecutablePath());
  CloseModuleHandle(own);

  Result<Module> libm = Module::Load("libm.so.6");
  ASSERT_TRUE(libm.ok()) << libm.status().ToString();
  EXPECT_TRUE(IsModuleLoaded(libm->Path()));
  void* again = OpenModuleHandle(libm->Path());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(fs::canonical(ModuleHandlePath(again)), fs::canonical(libm->Path()));
  Result<void*> cosine = libm->Symbol("cos");
  ASSERT_TRUE(cosine.ok());
  void* by_code = OpenModuleHandleOf(*cosine);
  EXPECT_EQ(by_code, again);  // the loader hands out one handle per file
  CloseModuleHandle(by_code);
  CloseModuleHandle(again);

  testing::TempHome home;
  std::ofstream(home.path() / "libbroken.so") << "not a library\n";
  EXPECT_EQ(OpenModuleHandle(home.path() / "libbroken.so"), nullptr);
  EXPECT_EQ(OpenModuleHandle(home.path() / "libmissing.so"), nullptr);
  EXPECT_FALSE(IsModuleLoaded(home.path() / "libbroken.so"));
  EXPECT_EQ(OpenModuleHandle(""), nullptr);
  EXPECT_TRUE(ModuleHandlePath(nullptr).empty());
  CloseModuleHandle(nullptr);  // harmless
}

}  // namespace
}  // namespace zimo::platform
