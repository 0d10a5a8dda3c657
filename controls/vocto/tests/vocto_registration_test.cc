// Registration of the library's classes, and a control made in-process
// from its registration and driven by the test container.

#include <cstdlib>
#include <fstream>

#include "automation/inproc.h"
#include "platform/registry.h"
#include "platform/text_file.h"
#include "registration.h"
#include "vocto_fixture.h"

namespace zimo::vocto::testing {
namespace {

using platform::kHkeyClassesRoot;
using platform::RegistryKey;

std::string Value(const std::string& path, const std::string& name = "") {
  auto key = RegistryKey::Open(kHkeyClassesRoot, path, platform::kKeyRead);
  if (!key.ok()) return "<no key " + path + ">";
  auto v = key->GetString(name);
  return v.ok() ? *v : "<no value>";
}

bool Exists(const std::string& path) { return RegistryKey::Exists(kHkeyClassesRoot, path); }

class VoctoRegistrationTest : public VoctoTest {};

TEST_F(VoctoRegistrationTest, RegisterWritesEveryKeyAndUnregisterRemovesThem) {
  const std::string path = "/opt/zimo/bin/libvocto.so";
  ASSERT_EQ(RegisterVocto(path), 0);
  const std::string clsid = "CLSID\\" + kControlClsid.ToString();
  EXPECT_EQ(Value("TypeLib\\" + kTypeLibId.ToString() + "\\1.0\\0\\win32"), path);
  EXPECT_EQ(Value(clsid), "Vocto Control");
  EXPECT_EQ(Value(clsid + "\\InprocServer32"), path);
  EXPECT_EQ(Value(clsid + "\\InprocServer32", "ThreadingModel"), "<no value>");
  EXPECT_EQ(Value(clsid + "\\ProgID"), "VOCTO.VoctoCtrl.1");
  EXPECT_EQ(Value(clsid + "\\ToolboxBitmap32"), path + ", 1");
  EXPECT_EQ(Value(clsid + "\\MiscStatus\\1"), "132497");
  EXPECT_EQ(Value(clsid + "\\TypeLib"), kTypeLibId.ToString());
  EXPECT_TRUE(Exists(clsid + "\\Control"));
  EXPECT_FALSE(Exists(clsid + "\\Insertable"));
  EXPECT_EQ(Value("VOCTO.VoctoCtrl.1\\CLSID"), kControlClsid.ToString());
  struct Page {
    const char* prog_id;
    automation::Guid clsid;
    const char* name;
  };
  const Page pages[] = {
      {"VOCTO.VoctoPropPage.1", kGeneralPageClsid, "Vocto Property Page"},
      {"Vocto.CVoctoPropPageBus", kBusPageClsid, "Vocto Property Page Bus"},
      {"Vocto.CVoctoPropPageDPR", kDprPageClsid, "Vocto Property Page DPR"},
      {"Vocto.CVoctoPropPageSer", kSerialPageClsid, "Vocto Property Page Serial"},
      {"Vocto.CVoctoCtlPropPageAbout", kAboutPageClsid, "Vocto Property Page About"}};
  for (const Page& p : pages) {
    EXPECT_EQ(Value(std::string(p.prog_id) + "\\CLSID"), p.clsid.ToString()) << p.prog_id;
    EXPECT_EQ(Value("CLSID\\" + p.clsid.ToString()), p.name);
    EXPECT_EQ(Value("CLSID\\" + p.clsid.ToString() + "\\InprocServer32"), path);
    EXPECT_EQ(Value("CLSID\\" + p.clsid.ToString() + "\\InprocServer32", "ThreadingModel"),
              "<no value>");
  }
  ASSERT_EQ(RegisterVocto(path), 0);
  ASSERT_EQ(UnregisterVocto(), 0);
  EXPECT_FALSE(Exists(clsid));
  EXPECT_FALSE(Exists("VOCTO.VoctoCtrl.1"));
  EXPECT_FALSE(Exists("TypeLib\\" + kTypeLibId.ToString()));
  for (const Page& p : pages) {
    EXPECT_FALSE(Exists(p.prog_id));
    EXPECT_FALSE(Exists("CLSID\\" + p.clsid.ToString()));
  }
}

TEST_F(VoctoRegistrationTest, TheEnumerationsCarryTheirHelpTexts) {
  std::vector<std::string> seen;
  for (const EnumInfo& e : Enumerations()) {
    for (const EnumItem& item : e.items) {
      if (!item.help.empty()) {
        seen.push_back(std::string(item.name) + "=" + std::to_string(item.value) + " " +
                       std::string(item.help));
      }
    }
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{"BUS=0 PC Bus", "DPR=1 Dual Ported Ram", "SER=2 Serial",
                                      "DRY=3 Simulated Mode", "ISA=1 ISA Bus", "VME=2 VME Bus"}));
  EXPECT_EQ(Enumerations()[3].items.back().name, "COM16");
  EXPECT_EQ(Enumerations()[3].items.back().value, 16);
}

TEST_F(VoctoRegistrationTest, TheContainerDrivesTheControlFromItsRegistration) {
  const std::filesystem::path dir = work_;
  const std::filesystem::path library =
      std::filesystem::canonical(zimo::testing::BinDir() / "libvocto.so");
  std::ofstream(dir / "script.txt") << "register " << library.string() << "\n"
                                    << "create VOCTO.VoctoCtrl.1\n"
                                    << "site user Vocto1\n"
                                    << "new\n"
                                    << "get CommMethod\n"
                                    << "call #18 @ \"I10\"\n"
                                    << "call DPRGetWord 'Y' 5\n"
                                    << "tick 1\n"
                                    << "set BusBase 800\n"
                                    << "get Enabled\n"
                                    << "call Restart\n"
                                    << "mode design\n"
                                    << "pages\n"
                                    << "page 2 show 202\n"
                                    << "page 3 show 203\n";
  const std::string command = "cd " + dir.string() + " && " +
                              (zimo::testing::BinDir() / "zimo-ctlhost").string() +
                              " script.txt > out.txt 2> err.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << *platform::ReadFileBytes(dir / "err.txt");
  auto out = platform::ReadLines(dir / "out.txt");
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(*out, (std::vector<std::string>{
                      "register: 0x00000000",
                      "create: ok _DVocto",
                      "site: user Vocto1",
                      "timer 1 every 100 ms",  // user mode, enabled
                      "new: ok",
                      "get CommMethod: 3",
                      "call #18: True out \"\"",  // simulated: success, no text
                      "event OnError(4003, \"No DPR communications established.\")",
                      "call DPRGetWord: 0",
                      "tick 1",
                      "timer 1 killed",  // a communication property disables
                      "changed -514",
                      "changed 6",
                      "set BusBase: ok",
                      "get Enabled: False",
                      "call Restart: True",
                      "repaint",  // the user-mode change redraws
                      "mode: design",
                      "pages: General Bus DPR Serial About",
                      "page 2 202: $D4000",
                      "page 3 203: 38400",
                  }));
}

}  // namespace
}  // namespace zimo::vocto::testing
