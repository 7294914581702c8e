// Skelder.dll as a Windows host meets it: loaded by name, every export found under its plain
// name (never "Name@8"), and called with the Windows API convention, the callee removing its
// arguments.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/callconv.h"
#include "platform/dynlib.h"
#include "hostsim_fixture.h"
#include "test_support.h"

namespace skelder::test {
namespace {

constexpr const char* kExports[] = {
    "VcsInitEventAddin", "VcsInstalled",    "VcsUninstalled",        "VcsHandleCommand", "VcsConfigureAddin",
    "VcsShowAbout",      "VcsReleaseAddin", "GetAddinInfo",          "ReleaseVcsAddin",  "MTGetTopMenuCount",
    "MTGetTopMenuInfo",  "MTGetMenuInfo",   "MTActionStatus",        "MTActionExecute",  "MTNotifySelection",
    "HasDlgAddin",       "GetDlgAddin",     "DlgAddinParentResized", "DlgAddinGetData",  "DlgAddinValidate",
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

// A host may load, use and free the add-in on a worker thread, the thread ending after. Whatever
// the add-in keeps per thread must not hold it loaded past that FreeLibrary, or the thread's end
// unloads it a second time from inside the loader.
DWORD WINAPI UseAndFreeTheAddin(void* param) {
  auto* outcome = static_cast<DWORD*>(param);
  HMODULE addin = ::LoadLibraryA(NativePath(BinDir() + "/Skelder.dll").c_str());
  if (!addin) return *outcome = 1;
  using TGetAddinInfo = void(SKELDER_STDCALL*)(char*, char*);
  using TMTNotifySelection = void(SKELDER_STDCALL*)(int32_t, const void*);
  auto info = reinterpret_cast<TGetAddinInfo>(platform::LibrarySymbol(addin, "GetAddinInfo"));
  auto select = reinterpret_cast<TMTNotifySelection>(platform::LibrarySymbol(addin, "MTNotifySelection"));
  if (!info || !select) return *outcome = 2;
  info(nullptr, nullptr);
  int32_t id = 7;
  int32_t* inner = &id;
  select(1, &inner);
  *outcome = ::FreeLibrary(addin) ? 0 : 3;
  return 0;
}

TEST(AddinOnAWorkerThread, IsFreedThereAndTheThreadEnds) {
  HostSimUser user;
  // Host libraries without the object information: looking it up fails on the worker thread.
  user.SetInstallDir(NativePath(BinDir() + "/probe_host_bare"));
  DWORD outcome = 99;
  HANDLE thread = ::CreateThread(nullptr, 0, UseAndFreeTheAddin, &outcome, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  if (::WaitForSingleObject(thread, 30000) != WAIT_OBJECT_0) {
    // The thread is stuck inside the loader: nothing in this process can go on.
    std::fprintf(stderr, "the worker thread did not end within 30 s after freeing the add-in\n");
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
  }
  ::CloseHandle(thread);
  EXPECT_EQ(outcome, 0u);
  EXPECT_EQ(::GetModuleHandleA(NativePath(BinDir() + "/Skelder.dll").c_str()), nullptr)
      << "still loaded after its last FreeLibrary";
}

}  // namespace
}  // namespace skelder::test
