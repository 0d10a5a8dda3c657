// Registration of the library's classes, and a control made in-process
// from its registration.
#include <fstream>

#include "automation/inproc.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "registration.h"
#include "voctoks_fixture.h"

namespace zimo::voctoks::testing {
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

class VoctoKSRegistrationTest : public VoctoKSTest {};

TEST_F(VoctoKSRegistrationTest, RegisterWritesEveryKeyAndUnregisterRemovesThem) {
  const std::string path = "/opt/zimo/bin/libvoctoks.so";
  ASSERT_EQ(RegisterVoctoKS(path), 0);
  const std::string clsid = "CLSID\\" + kControlClsid.ToString();
  EXPECT_EQ(Value("TypeLib\\" + kTypeLibId.ToString() + "\\1.0\\0\\win32"), path);
  EXPECT_EQ(Value(clsid), "Vocto Control");
  EXPECT_EQ(Value(clsid + "\\InprocServer32"), path);
  EXPECT_EQ(Value(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Value(clsid + "\\ProgID"), "VOCTOKS.VoctoKSCtrl.1");
  EXPECT_EQ(Value(clsid + "\\ToolboxBitmap32"), path + ", 205");
  EXPECT_EQ(Value(clsid + "\\MiscStatus"), "0");
  EXPECT_EQ(Value(clsid + "\\MiscStatus\\1"), "132497");
  EXPECT_EQ(Value(clsid + "\\TypeLib"), kTypeLibId.ToString());
  EXPECT_EQ(Value(clsid + "\\Version"), "1.0");
  EXPECT_TRUE(Exists(clsid + "\\Control"));
  EXPECT_TRUE(Exists(clsid + "\\Insertable"));
  EXPECT_EQ(Value("VOCTOKS.VoctoKSCtrl.1\\CLSID"), kControlClsid.ToString());
  EXPECT_EQ(Value("VOCTOKS.VoctoKSCtrl\\CurVer"), "VOCTOKS.VoctoKSCtrl.1");
  struct Page {
    const char* prog_id;
    automation::Guid clsid;
    const char* name;
  };
  const Page pages[] = {{"VOCTOKS.VoctoKSPropPage.1", kGeneralPageClsid, "Vocto Property Page"},
                        {"VoctoKS.DownloadPPG", kDownloadPageClsid, "Download"},
                        {"VoctoKS.UploadPPG", kUploadPageClsid, "Upload"},
                        {"VoctoKS.CVoctoPPGAbout", kAboutPageClsid, "About"}};
  for (const Page& p : pages) {
    EXPECT_EQ(Value(std::string(p.prog_id) + "\\CLSID"), p.clsid.ToString()) << p.prog_id;
    EXPECT_EQ(Value("CLSID\\" + p.clsid.ToString()), p.name);
    EXPECT_EQ(Value("CLSID\\" + p.clsid.ToString() + "\\InprocServer32"), path);
  }
  // Again, then away.
  ASSERT_EQ(RegisterVoctoKS(path), 0);
  ASSERT_EQ(UnregisterVoctoKS(), 0);
  EXPECT_FALSE(Exists(clsid));
  EXPECT_FALSE(Exists("VOCTOKS.VoctoKSCtrl.1"));
  EXPECT_FALSE(Exists("VOCTOKS.VoctoKSCtrl"));
  EXPECT_FALSE(Exists("TypeLib\\" + kTypeLibId.ToString()));
  for (const Page& p : pages) {
    EXPECT_FALSE(Exists(p.prog_id));
    EXPECT_FALSE(Exists("CLSID\\" + p.clsid.ToString()));
  }
}

TEST_F(VoctoKSRegistrationTest, ARegistryThatRefusesWritesFailsAtTheTypeLibrary) {
  std::ofstream(home_.path() / "registry.reg") << "not a registry file\n";
  EXPECT_EQ(static_cast<uint32_t>(RegisterVoctoKS("/x/libvoctoks.so")), 0x80040200u);
}

TEST_F(VoctoKSRegistrationTest, ClassObjectsMakeOnlyTheControl) {
  void* object = nullptr;
  ASSERT_EQ(GetVoctoKSClassObject(&kControlClsid, &automation::kIidClassFactory, &object), 0);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(GetVoctoKSClassObject(&kDispatchIid, &automation::kIidClassFactory, &object),
            automation::CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(VoctoKSRegistrationTest, TheLibraryRegistersItselfAndMakesControlsByProgId) {
  const std::filesystem::path library = zimo::testing::BinDir() / "libvoctoks.so";
  auto module = platform::Module::Load(library.string());
  ASSERT_TRUE(module.ok()) << module.status().ToString();
  auto reg = module->Function<int32_t()>("DllRegisterServer");
  auto can_unload = module->Function<int32_t()>("DllCanUnloadNow");
  ASSERT_TRUE(reg.ok() && can_unload.ok());
  ASSERT_EQ((*reg)(), 0);
  // The registration names the library as it was loaded (its unversioned
  // link), which is the same file.
  const std::string registered = Value("CLSID\\" + kControlClsid.ToString() + "\\InprocServer32");
  EXPECT_EQ(std::filesystem::canonical(registered), std::filesystem::canonical(library))
      << registered;

  std::shared_ptr<automation::Dispatch> control;
  ASSERT_EQ(automation::CreateInprocInstance("VOCTOKS.VoctoKSCtrl", &control), automation::S_OK);
  ASSERT_NE(control->TypeInfo(), nullptr);
  EXPECT_EQ(control->TypeInfo()->name, "_DVoctoKS");
  Variant text;
  ASSERT_EQ(control->CallByName("LastErrorString", automation::kPropertyGet, {}, &text),
            automation::S_OK);
  EXPECT_EQ(text, Variant(automation::Bstr(u"All is very well!")));
  EXPECT_EQ((*can_unload)(), automation::S_FALSE);
  control.reset();
  EXPECT_EQ((*can_unload)(), automation::S_OK);
  EXPECT_EQ(automation::FreeUnusedLibraries(), 1);
  EXPECT_TRUE(module->Free().ok());
}

}  // namespace
}  // namespace zimo::voctoks::testing
