// A Python program over libcorvan32.so (through ctypes, as a client written
// in Python binds the library) that opens a PCI card, asks it one thing and
// ends with the device still open: the library's own end at process exit
// must close the device without crashing the interpreter.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "corvan/device_api.h"
#include "pci_card_fixture.h"
#include "platform/process.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace std::chrono_literals;

constexpr char kScript[] = R"(import ctypes
import sys

lib = ctypes.CDLL(sys.argv[1])
lib.ZimoGetResponseA.argtypes = [ctypes.c_uint32, ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p]
lib.ZimoGetResponseA.restype = ctypes.c_uint32
if lib.OpenZimoDevice(0) != 1:
    sys.exit(3)
reply = ctypes.create_string_buffer(256)
lib.ZimoGetResponseA(0, reply, 255, b"I10")
if not reply.value.startswith(b"3713707"):
    sys.exit(4)
if sys.argv[2] == "close" and lib.CloseZimoDevice(0) != 1:
    sys.exit(5)
sys.exit(0)
)";

// The sanitizer runtime this test runs with, if any: a library built with
// it only loads into an interpreter that has the runtime loaded first.
std::string SanitizerRuntime() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    const auto at = line.find('/');
    if (at == std::string::npos) continue;
    const std::string path = line.substr(at);
    if (path.find("/libasan.so") != std::string::npos) return path;
  }
  return {};
}

std::string Python() {
  for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3", "/bin/python3"}) {
    if (std::filesystem::exists(candidate)) return candidate;
  }
  return {};
}

TEST(PythonClient, EndsWithAPciDeviceStillOpen) {
  const std::string python = Python();
  if (python.empty()) GTEST_SKIP() << "python3 is not installed";
  const auto library = zimo::testing::BinDir() / "libcorvan32.so";
  ASSERT_TRUE(std::filesystem::exists(library));

  zimo::testing::TempHome home;
  ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, nullptr), 1);
  testing::StandInServer server;
  testing::DriverHostProcess host({"pci older"});
  ASSERT_TRUE(testing::WaitForDriverDevice("ZimoPCI0"));

  const auto script = home.path() / "client.py";
  std::ofstream(script) << kScript;
  platform::SpawnOptions options;
  const std::string runtime = SanitizerRuntime();
  if (!runtime.empty()) {
    options.environment.push_back("LD_PRELOAD=" + runtime);
    // The interpreter keeps its own objects to the end on purpose.
    options.environment.push_back("ASAN_OPTIONS=detect_leaks=0");
  }
  // Closed by hand first (the road that always worked), then left open.
  for (const char* end : {"close", "open"}) {
    SCOPED_TRACE(end);
    auto child = platform::Spawn({python, script.string(), library.string(), end}, options);
    ASSERT_TRUE(child.ok());
    const auto code = child->Wait(120s);
    ASSERT_TRUE(code.ok()) << "the client did not end";
    EXPECT_EQ(*code, 0);
  }
}

}  // namespace
}  // namespace zimo::corvan
