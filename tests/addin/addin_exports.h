#pragma once
// The add-in as a host meets it: bin/Skelder.so loaded by the dynamic loader in a fresh child
// process, its exports looked up by name. Checks run in the child and report through its exit
// status and output.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "addin_process.h"
#include "hostsim_fixture.h"
#include "test_support.h"

namespace skelder::test {

struct AddinExports {
  void (*VcsInitEventAddin)(char*, int32_t, int32_t);
  void (*VcsInstalled)();
  void (*VcsUninstalled)();
  uint8_t (*VcsHandleCommand)(const char*, const char*);
  void (*VcsConfigureAddin)();
  void (*VcsShowAbout)();
  void (*VcsReleaseAddin)();
  void (*GetAddinInfo)(char*, char*);
  void (*ReleaseVcsAddin)();
  int32_t (*MTGetTopMenuCount)();
  uint8_t (*MTGetTopMenuInfo)(int32_t, uint8_t*);
  uint8_t (*MTGetMenuInfo)(int32_t, int32_t, int32_t*, uint8_t*);
  uint8_t (*MTActionStatus)(int32_t, uint8_t*, uint8_t*, uint8_t*, int32_t);
  uint8_t (*MTActionExecute)(int32_t);
  void (*MTNotifySelection)(int32_t, const void*);
  uint8_t (*HasDlgAddin)(int32_t, int32_t);
  uint32_t (*GetDlgAddin)(int32_t, uint32_t, int32_t, const char*, char*, int32_t);
  void (*DlgAddinParentResized)(int32_t, uint32_t, int32_t, int32_t, int32_t, int32_t);
  uint8_t (*DlgAddinGetData)(int32_t, uint32_t, char*);
  uint8_t (*DlgAddinValidate)(int32_t, uint32_t);
  void (*DlgAddinRelease)(int32_t, uint32_t);
  // Extension exports.
  uint8_t (*SkelderConfigureToolkit)(const char*, const char*);
  uint8_t (*SkelderRunPropertyPage)(uint32_t);
  bool complete = false;
};

// Resolves every export in the child; `complete` is false when one is missing.
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

// In the child: a failed check prints where and ends the body with a non-zero status.
#define CHILD_CHECK(cond)                                                       \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);      \
      return 1;                                                                 \
    }                                                                           \
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
