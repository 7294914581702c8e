#pragma once
// The add-in as a host meets it: loaded afresh for each run (RunInChild), its exports looked up
// by name and called with the host's calling convention. Checks run in the body and report
// through its exit status and output.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "addin_process.h"
#include "platform/callconv.h"
#include "hostsim_fixture.h"
#include "test_support.h"

namespace skelder::test {

struct AddinExports {
  void(SKELDER_STDCALL* VcsInitEventAddin)(char*, int32_t, int32_t);
  void(SKELDER_STDCALL* VcsInstalled)();
  void(SKELDER_STDCALL* VcsUninstalled)();
  uint8_t(SKELDER_STDCALL* VcsHandleCommand)(const char*, const char*);
  void(SKELDER_STDCALL* VcsConfigureAddin)();
  void(SKELDER_STDCALL* VcsShowAbout)();
  void(SKELDER_STDCALL* VcsReleaseAddin)();
  void(SKELDER_STDCALL* GetAddinInfo)(char*, char*);
  void(SKELDER_STDCALL* ReleaseVcsAddin)();
  int32_t(SKELDER_STDCALL* MTGetTopMenuCount)();
  uint8_t(SKELDER_STDCALL* MTGetTopMenuInfo)(int32_t, uint8_t*);
  uint8_t(SKELDER_STDCALL* MTGetMenuInfo)(int32_t, int32_t, int32_t*, uint8_t*);
  uint8_t(SKELDER_STDCALL* MTActionStatus)(int32_t, uint8_t*, uint8_t*, uint8_t*, int32_t);
  uint8_t(SKELDER_STDCALL* MTActionExecute)(int32_t);
  void(SKELDER_STDCALL* MTNotifySelection)(int32_t, const void*);
  uint8_t(SKELDER_STDCALL* HasDlgAddin)(int32_t, int32_t);
  uint32_t(SKELDER_STDCALL* GetDlgAddin)(int32_t, uint32_t, int32_t, const char*, char*, int32_t);
  void(SKELDER_STDCALL* DlgAddinParentResized)(int32_t, uint32_t, int32_t, int32_t, int32_t, int32_t);
  uint8_t(SKELDER_STDCALL* DlgAddinGetData)(int32_t, uint32_t, char*);
  uint8_t(SKELDER_STDCALL* DlgAddinValidate)(int32_t, uint32_t);
  void(SKELDER_STDCALL* DlgAddinRelease)(int32_t, uint32_t);
  // Extension exports.
  uint8_t(SKELDER_STDCALL* SkelderConfigureToolkit)(const char*, const char*);
  uint8_t(SKELDER_STDCALL* SkelderRunPropertyPage)(uint32_t);
  bool complete = false;
};

// Resolves every export in the body; `complete` is false when one is missing.
inline AddinExports LoadAddinExports() {
  AddinExports e{};
  bool ok = true;
  auto get = [&](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(AddinSymbol(name));
    if (!fn) {
      std::printf("missing export %s\n", name);
      ok = false;
    }
  };
  get(e.VcsInitEventAddin, "VcsInitEventAddin");
  get(e.VcsInstalled, "VcsInstalled");
  get(e.VcsUninstalled, "VcsUninstalled");
  get(e.VcsHandleCommand, "VcsHandleCommand");
  get(e.VcsConfigureAddin, "VcsConfigureAddin");
  get(e.VcsShowAbout, "VcsShowAbout");
  get(e.VcsReleaseAddin, "VcsReleaseAddin");
  get(e.GetAddinInfo, "GetAddinInfo");
  get(e.ReleaseVcsAddin, "ReleaseVcsAddin");
  get(e.MTGetTopMenuCount, "MTGetTopMenuCount");
  get(e.MTGetTopMenuInfo, "MTGetTopMenuInfo");
  get(e.MTGetMenuInfo, "MTGetMenuInfo");
  get(e.MTActionStatus, "MTActionStatus");
  get(e.MTActionExecute, "MTActionExecute");
  get(e.MTNotifySelection, "MTNotifySelection");
  get(e.HasDlgAddin, "HasDlgAddin");
  get(e.GetDlgAddin, "GetDlgAddin");
  get(e.DlgAddinParentResized, "DlgAddinParentResized");
  get(e.DlgAddinGetData, "DlgAddinGetData");
  get(e.DlgAddinValidate, "DlgAddinValidate");
  get(e.DlgAddinRelease, "DlgAddinRelease");
  get(e.SkelderConfigureToolkit, "SkelderConfigureToolkit");
  get(e.SkelderRunPropertyPage, "SkelderRunPropertyPage");
  e.complete = ok;
  return e;
}

// In the body: a failed check prints where and ends the body with a non-zero status.
#define CHILD_CHECK(cond)                                                  \
  do {                                                                     \
    if (!(cond)) {                                                         \
      std::printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                                            \
    }                                                                      \
  } while (0)

// The selection argument of MTNotifySelection: a reference to a reference to the id.
struct Selection {
  explicit Selection(int32_t id) : value(id), inner(&value) {}
  int32_t value;
  int32_t* inner;
  const void* Arg() const { return &inner; }
};

class AddinTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FileExists(AddinPath())) << "build the Skelder target first"; }

  // Runs the body against freshly loaded exports; expects it to return 0.
  void RunHost(const std::function<int(const AddinExports&)>& body, const std::string& input = {}) {
    last_ = RunInChild(
        [&]() -> int {
          AddinExports e = LoadAddinExports();
          if (!e.complete) return 200;
          return body(e);
        },
        input);
    EXPECT_FALSE(last_.timedOut);
    EXPECT_EQ(last_.exitCode, 0) << last_.output;
  }

  HostSimUser user_;
  ChildResult last_;
};

}  // namespace skelder::test
