// Self-registration of the OCX: the exact entries, registering twice, unregistering (also when
// never registered, and beside 16-bit registrations), the class objects and unloading. Runs in a
// private classes root so the prefix's real registrations are never touched.
#include <ocidl.h>
#include <olectl.h>
#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "control/identity.h"
#include "registration_support.h"

using regtest::DefaultValue;
using regtest::DumpTree;
using regtest::GuidText;
using regtest::KeyExists;
using regtest::Ocx;

namespace {

const std::wstring kCtrlKey = L"CLSID\\" + GuidText(qvx::kClsidCtrl);
const std::wstring kPageKey = L"CLSID\\" + GuidText(qvx::kClsidPropPage);
const std::wstring kLibKey = L"TypeLib\\" + GuidText(qvx::kLibId);
const wchar_t kProgId[] = L"QELVANTORIXAC.QelVantorixAcCtrl.1";

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Ocx().module, nullptr) << "cannot load the OCX";
    ASSERT_TRUE(root_.ok()) << "cannot redirect HKEY_CLASSES_ROOT";
  }
  void TearDown() override { Ocx().DllUnregisterServer(); }

  static std::set<std::wstring> Root() { return DumpTree(HKEY_CLASSES_ROOT, L""); }

  regtest::PrivateClassesRoot root_;
};

TEST_F(Registration, WritesExactlyTheControlClassEntries) {
  ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
  const std::wstring path = regtest::OcxShortPath();
  const std::set<std::wstring> expected = {
      L"",
      L"|@=QelVantorixActiveX Control",
      L"Control",
      L"Control|@=",
      L"InprocServer32",
      L"InprocServer32|@=" + path,
      L"InprocServer32|ThreadingModel=Apartment",
      L"MiscStatus",
      L"MiscStatus|@=0",
      L"MiscStatus\\1",
      L"MiscStatus\\1|@=131473",
      L"ProgID",
      L"ProgID|@=QELVANTORIXAC.QelVantorixAcCtrl.1",
      L"ToolboxBitmap32",
      L"ToolboxBitmap32|@=" + path + L", 1",
      L"TypeLib",
      L"TypeLib|@=" + GuidText(qvx::kLibId),
      L"Version",
      L"Version|@=1.8",
  };
  EXPECT_EQ(DumpTree(HKEY_CLASSES_ROOT, kCtrlKey), expected);
}

TEST_F(Registration, WritesTheProgIdAndAPageWithoutProgIdOrThreadingModel) {
  ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
  const std::set<std::wstring> prog_id = {L"", L"|@=QelVantorixActiveX Control", L"CLSID",
                                          L"CLSID|@=" + GuidText(qvx::kClsidCtrl)};
  EXPECT_EQ(DumpTree(HKEY_CLASSES_ROOT, kProgId), prog_id);
  const std::set<std::wstring> page = {L"", L"|@=QelVantorixActiveX Property Page",
                                       L"InprocServer32",
                                       L"InprocServer32|@=" + regtest::OcxShortPath()};
  EXPECT_EQ(DumpTree(HKEY_CLASSES_ROOT, kPageKey), page);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"QELVANTORIX.QelVantorixPropPage.1"));
}

TEST_F(Registration, RegistersTheTypeLibraryAndBothInterfaces) {
  ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, kLibKey + L"\\1.8"),
            L"QelVantorixActiveX ActiveX Control module");
  const std::wstring platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, kLibKey + L"\\1.8\\0\\" + platform),
            regtest::OcxPath());
  for (const GUID* iid : {&qvx::kDiidDispatch, &qvx::kDiidEvents}) {
    const std::wstring key = L"Interface\\" + GuidText(*iid);
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, key + L"\\TypeLib"), GuidText(qvx::kLibId)) << key;
  }
  ITypeLib* type_lib = nullptr;
  ASSERT_EQ(LoadRegTypeLib(qvx::kLibId, 1, 8, 0, &type_lib), S_OK);
  type_lib->Release();
  // Nothing else lands in the classes root.
  std::set<std::wstring> top;
  for (const std::wstring& line : Root()) {
    if (!line.empty() && line.find(L'\\') == std::wstring::npos &&
        line.find(L'|') == std::wstring::npos) {
      std::wstring lower = line;  // key names are not case-sensitive
      for (wchar_t& c : lower) c = towlower(c);
      top.insert(lower);
    }
  }
  EXPECT_EQ(top, (std::set<std::wstring>{L"clsid", L"interface",
                                         L"qelvantorixac.qelvantorixacctrl.1", L"typelib"}));
}

TEST_F(Registration, RegisteringTwiceLeavesTheSameEntries) {
  ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
  const std::set<std::wstring> once = Root();
  ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
  EXPECT_EQ(Root(), once);
}

TEST_F(Registration, UnregisteringRemovesEverythingItWrote) {
  ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
  ASSERT_EQ(Ocx().DllUnregisterServer(), S_OK);
  for (const std::wstring& key :
       {kCtrlKey, kPageKey, kLibKey, L"Interface\\" + GuidText(qvx::kDiidDispatch),
        L"Interface\\" + GuidText(qvx::kDiidEvents)}) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  }
  // The ProgID stays while the class of the other registry view (32-bit for a 64-bit process,
  // 64-bit for a 32-bit one under WOW64, none on 32-bit Windows) uses it. On Windows that view
  // of this private root is the root itself, where the class is gone. Wine opens the other
  // view of an overridden classes root in the real registry, where the control may be installed
  // (the self-test with /installed): the ProgID is then rightly kept.
  BOOL wow64 = FALSE;
  const REGSAM other_view = sizeof(void*) == 8                                     ? KEY_WOW64_32KEY
                            : IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY
                                                                                   : 0;
  HKEY other_class = nullptr;
  const bool other_view_has_class =
      other_view != 0 && RegOpenKeyExW(HKEY_CLASSES_ROOT, kCtrlKey.c_str(), 0,
                                       KEY_READ | other_view, &other_class) == ERROR_SUCCESS;
  if (other_class != nullptr) RegCloseKey(other_class);
  EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kProgId), other_view_has_class) << kProgId;
  ITypeLib* type_lib = nullptr;
  EXPECT_NE(LoadRegTypeLib(qvx::kLibId, 1, 8, 0, &type_lib), S_OK);
}

TEST_F(Registration, UnregisteringAModuleNeverRegisteredSucceedsAndWritesNothing) {
  const std::set<std::wstring> before = Root();
  EXPECT_EQ(Ocx().DllUnregisterServer(), S_OK);
  EXPECT_EQ(Root(), before);
}

TEST_F(Registration, ASixteenBitServerKeepsTheClassAndLosesOnlyThe32BitKeys) {
  ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
  ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, (kCtrlKey + L"\\InprocServer").c_str(), REG_SZ,
                         L"OLD16.OCX", 0),
            ERROR_SUCCESS);
  ASSERT_EQ(Ocx().DllUnregisterServer(), S_OK);
  std::set<std::wstring> kept;
  for (const std::wstring& line : DumpTree(HKEY_CLASSES_ROOT, kCtrlKey)) {
    kept.insert(line.substr(0, line.find(L'|')));
  }
  EXPECT_EQ(kept, (std::set<std::wstring>{L"", L"Control", L"InprocServer", L"MiscStatus",
                                          L"MiscStatus\\1", L"ProgID", L"TypeLib", L"Version"}));
  // The ProgID is left alone with the class; the page has no 16-bit key and goes entirely.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kPageKey));
}

// The type library key is shared by the 32- and 64-bit builds (and by 16-bit ones): other
// platforms' registrations, written here before or after ours, must survive our unregistration,
// and only what is left of ours may go.
TEST_F(Registration, UnregisteringKeepsOtherPlatformsTypeLibraryRegistrations) {
  const std::wstring own = sizeof(void*) == 8 ? L"win64" : L"win32";
  const std::wstring other = sizeof(void*) == 8 ? L"win32" : L"win64";
  const std::wstring locale = kLibKey + L"\\1.8\\0\\";
  struct Case {
    const char* name;
    bool before_ours;                  // written before our registration, else after
    std::vector<std::wstring> writes;  // below kLibKey, each with a default value
    std::vector<std::wstring> kept;
    std::vector<std::wstring> gone;
  };
  const Case cases[] = {
      {"16-bit", false, {L"1.8\\0\\win16"}, {locale + L"win16"}, {locale + own}},
      {"other bitness first", true, {L"1.8\\0\\" + other}, {locale + other}, {locale + own}},
      {"other bitness after", false, {L"1.8\\0\\" + other}, {locale + other}, {locale + own}},
      {"other locale",
       false,
       {L"1.8\\9\\" + other},
       {kLibKey + L"\\1.8\\9\\" + other},
       {kLibKey + L"\\1.8\\0"}},
      {"our older version", false, {L"1.0\\9\\" + own}, {}, {kLibKey}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto write = [&] {
      for (const std::wstring& key : c.writes) {
        ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, (kLibKey + L"\\" + key).c_str(), REG_SZ,
                               L"OTHER.TLB", 0),
                  ERROR_SUCCESS);
      }
    };
    if (c.before_ours) write();
    ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
    if (!c.before_ours) write();
    ASSERT_EQ(Ocx().DllUnregisterServer(), S_OK);
    for (const std::wstring& key : c.kept) EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    for (const std::wstring& key : c.gone) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    // Interface keys belong to this bitness's registry view: they go with our registration.
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Interface\\" + GuidText(qvx::kDiidDispatch)));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kLibKey.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, kLibKey.c_str());
  }
}

TEST_F(Registration, AFailedTypeLibraryDeletionStopsBeforeInterfacesAndClasses) {
  ASSERT_EQ(Ocx().DllRegisterServer(), S_OK);
  // An older version of ours whose locale refuses deletion; version 1.8 itself goes.
  const std::wstring own = sizeof(void*) == 8 ? L"win64" : L"win32";
  const std::wstring locked = kLibKey + L"\\1.0\\9";
  ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, (locked + L"\\" + own).c_str(), REG_SZ, L"O.TLB", 0),
            ERROR_SUCCESS);
  auto set_dacl = [&](const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    HKEY key = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, locked.c_str(), 0, WRITE_DAC, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
    RegCloseKey(key);
    LocalFree(sd);
  };
  set_dacl(L"D:(D;;SD;;;WD)(A;;GA;;;WD)");  // everyone may do anything but delete it
  EXPECT_EQ(Ocx().DllUnregisterServer(), SELFREG_E_TYPELIB);
  for (const GUID* iid : {&qvx::kDiidDispatch, &qvx::kDiidEvents}) {
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Interface\\" + GuidText(*iid)));
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey));
  set_dacl(L"D:(A;;GA;;;WD)");
}

// --- Class objects and unloading ---------------------------------------------------------------

class ClassObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Ocx().module, nullptr);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(ClassObjects, BothClassesHaveAFactoryAndAnyOtherIsNotAvailable) {
  struct Case {
    const GUID* clsid;
    HRESULT expected;
  };
  const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  for (const Case& c :
       {Case{&qvx::kClsidCtrl, S_OK}, Case{&qvx::kClsidPropPage, S_OK},
        Case{&unknown, CLASS_E_CLASSNOTAVAILABLE}, Case{&qvx::kLibId, CLASS_E_CLASSNOTAVAILABLE}}) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(Ocx().DllGetClassObject(*c.clsid, IID_IClassFactory, &object), c.expected)
        << GuidText(*c.clsid).c_str();
    if (c.expected == S_OK) {
      ASSERT_NE(object, nullptr);
      static_cast<IClassFactory*>(object)->Release();
    } else {
      EXPECT_EQ(object, nullptr);
    }
  }
}

TEST_F(ClassObjects, AFactoryAnswersOnlyItsOwnInterfaces) {
  IUnknown* unknown = nullptr;
  ASSERT_EQ(
      Ocx().DllGetClassObject(qvx::kClsidCtrl, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
      S_OK);
  IClassFactory* factory = nullptr;
  EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IUnknown* again = nullptr;
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, unknown);  // one identity
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(unknown->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  IUnknown* aggregated = nullptr;
  EXPECT_EQ(factory->CreateInstance(unknown, IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
            CLASS_E_NOAGGREGATION);
  again->Release();
  factory->Release();
  unknown->Release();
}

TEST_F(ClassObjects, ThePropertyPageFactoryCreatesAPage) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(Ocx().DllGetClassObject(qvx::kClsidPropPage, IID_IClassFactory,
                                    reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* page = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page)),
            S_OK);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(Ocx().DllCanUnloadNow(), S_FALSE);  // a live page keeps the library loaded
  page->Release();
  factory->Release();
}

IClassFactory* ControlFactory() {
  IClassFactory* factory = nullptr;
  Ocx().DllGetClassObject(qvx::kClsidCtrl, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  return factory;
}

TEST_F(ClassObjects, UnloadingWaitsForAHeldFactory) {
  ASSERT_EQ(Ocx().DllCanUnloadNow(), S_OK);
  IClassFactory* factory = ControlFactory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(Ocx().DllCanUnloadNow(), S_FALSE);
  factory->Release();
  EXPECT_EQ(Ocx().DllCanUnloadNow(), S_OK);
}

TEST_F(ClassObjects, UnloadingWaitsForAServerLock) {
  IClassFactory* factory = ControlFactory();
  ASSERT_NE(factory, nullptr);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(Ocx().DllCanUnloadNow(), S_FALSE);
  factory = ControlFactory();
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  EXPECT_EQ(Ocx().DllCanUnloadNow(), S_OK);
}

TEST_F(ClassObjects, UnloadingWaitsForALiveControl) {
  IClassFactory* factory = ControlFactory();
  ASSERT_NE(factory, nullptr);
  IDispatch* control = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&control)),
            S_OK);
  factory->Release();
  EXPECT_EQ(Ocx().DllCanUnloadNow(), S_FALSE);
  IDispatch* second = nullptr;
  ASSERT_EQ(control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&second)), S_OK);
  control->Release();
  EXPECT_EQ(Ocx().DllCanUnloadNow(), S_FALSE) << "one reference is left";
  second->Release();
  EXPECT_EQ(Ocx().DllCanUnloadNow(), S_OK);
}

}  // namespace
