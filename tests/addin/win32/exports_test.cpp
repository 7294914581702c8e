// Skelder.dll as a Windows host meets it: loaded by name, every export found under its plain
// name (never "Name@8"), and called with the Windows API convention, the callee removing its
// arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/callconv.h"
#include "platform/dynlib.h"
#include "test_support.h"

namespace skelder::test {
namespace {

constexpr const char* kExports[] = {
    "VcsInitEventAddin", "VcsInstalled",      "VcsUninstalled",        "VcsHandleCommand", "VcsConfigureAddin",
    "VcsShowAbout",      "VcsReleaseAddin",   "GetAddinInfo",          "ReleaseVcsAddin",  "MTGetTopMenuCount",
    "MTGetTopMenuInfo",  "MTGetMenuInfo",     "MTActionStatus",        "MTActionExecute",  "MTNotifySelection",
    "HasDlgAddin",       "GetDlgAddin",       "DlgAddinParentResized", "DlgAddinGetData",  "DlgAddinValidate",
    "DlgAddinRelease"};

// The stack pointer, to see that a call through the Windows API convention leaves it where it was.
uintptr_t StackPointer() {
#if defined(__i386__)
  uintptr_t sp;
  asm volatile("movl %%esp, %0" : "=r"(sp));
  return sp;
#else
  return 0;  // x86_64 has one convention: nothing to drift
#endif
}

class AddinDll : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(addin_.Loaded()) << platform::LastLoadError(); }
  platform::DynamicLibrary addin_{BinDir() + "\\Skelder.dll"};
};

TEST_F(AddinDll, EveryExportHasItsPlainName) {
  for (const char* name : kExports) {
    EXPECT_NE(addin_.Symbol(name), nullptr) << name;
    // The decorated forms of an i686 link without --kill-at must not be what a host finds.
    for (int bytes = 0; bytes <= 24; bytes += 4)
      EXPECT_EQ(addin_.Symbol((std::string(name) + "@" + std::to_string(bytes)).c_str()), nullptr) << name;
  }
}

TEST_F(AddinDll, CallsLeaveTheStackAsTheyFoundIt) {
  using TGetAddinInfo = void(SKELDER_STDCALL*)(char*, char*);
  using THasDlgAddin = uint8_t(SKELDER_STDCALL*)(int32_t, int32_t);
  using TMTGetTopMenuCount = int32_t(SKELDER_STDCALL*)();
  auto info = addin_.Function<TGetAddinInfo>("GetAddinInfo");
  auto hasPage = addin_.Function<THasDlgAddin>("HasDlgAddin");
  auto count = addin_.Function<TMTGetTopMenuCount>("MTGetTopMenuCount");
  ASSERT_TRUE(info && hasPage && count);
  char name[256] = {}, description[256] = {};
  const uintptr_t before = StackPointer();
  // A callee that left its arguments behind would move the stack by 8 bytes a call.
  for (int i = 0; i < 1000; ++i) {
    info(name, description);
    hasPage(0, 0);
    count();
  }
  EXPECT_EQ(StackPointer(), before);
  EXPECT_STREQ(name, "Web Folders");
}

}  // namespace
}  // namespace skelder::test
