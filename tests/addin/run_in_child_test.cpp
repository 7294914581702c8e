// The runs the add-in's tests rest on: each run's status, input and output, an add-in loaded
// afresh each time, and a time limit that holds. On Windows the run shares the test process, so
// what it changed (standard handles, descriptors) must be back afterwards.
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "addin_exports.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace skelder::test {
namespace {

struct StatusCase {
  const char* name;
  std::function<int()> body;
  int expected;
};

TEST(RunInChild, StatusIsTheBodysResultAndAnExceptionGives122) {
  const StatusCase cases[] = {
      {"zero", [] { return 0; }, 0},
      {"seven", [] { return 7; }, 7},
      {"low byte only, as an exit status", [] { return 256 + 9; }, 9},
      {"exception", []() -> int { throw std::runtime_error("inside"); }, 122},
  };
  for (const auto& c : cases) {
    const ChildResult r = RunInChild(c.body);
    EXPECT_FALSE(r.timedOut) << c.name;
    EXPECT_EQ(r.exitCode, c.expected) << c.name;
  }
}

TEST(RunInChild, InputComesFromStdinAndBothStreamsAreCapturedByteForByte) {
  // Twice: what one run read or left buffered must not reach the next.
  for (const std::string input : {"first line\r\nsecond\n", "x"}) {
    const ChildResult r = RunInChild(
        [] {
          std::string line, all;
          while (std::getline(std::cin, line)) all += "[" + line + "]";
          std::cin.clear();
          std::printf("out:%s\n", all.c_str());
          std::fflush(stdout);
          std::fprintf(stderr, "err\r\n");
          return 0;
        },
        input);
    const std::string expected = input == "x" ? "out:[x]\nerr\r\n" : "out:[first line\r][second]\nerr\r\n";
    EXPECT_EQ(r.output, expected);
  }
}

TEST(RunInChild, EachRunMeetsAFreshlyLoadedAddin) {
  // The menu module lives from GetAddinInfo to the add-in's end: a second run must not find it.
  for (int run = 0; run < 2; ++run) {
    const ChildResult r = RunInChild([] {
      const AddinExports e = LoadAddinExports();
      CHILD_CHECK(e.complete);
      CHILD_CHECK(e.MTGetTopMenuCount() == 0);
      e.GetAddinInfo(nullptr, nullptr);
      CHILD_CHECK(e.MTGetTopMenuCount() == 1);
      return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << "run " << run << ": " << r.output;
  }
}

#ifdef _WIN32
TEST(RunInChild, TheProgramsStandardStreamsAreItsOwnAgainAfterARun) {
  constexpr DWORD kIds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  DWORD typesBefore[3];
  for (int i = 0; i < 3; ++i) typesBefore[i] = ::GetFileType(::GetStdHandle(kIds[i]));
  const ChildResult r = RunInChild([] { return 0; }, "input");
  ASSERT_EQ(r.exitCode, 0);
  for (int i = 0; i < 3; ++i) {
    // The same kind of file as before (a duplicate of it), for the handle and the descriptor alike.
    EXPECT_EQ(::GetStdHandle(kIds[i]), reinterpret_cast<HANDLE>(::_get_osfhandle(i))) << i;
    EXPECT_EQ(::GetFileType(::GetStdHandle(kIds[i])), typesBefore[i]) << i;
  }
}

// A body that hangs cannot be taken back inside the process: the program ends with a message.
TEST(RunInChildDeathTest, ABodyPastItsLimitEndsTheProgramWithAMessage) {
  EXPECT_EXIT(RunInChild(
                  [] {
                    std::this_thread::sleep_for(std::chrono::seconds(30));
                    return 0;
                  },
                  {}, std::chrono::milliseconds(200)),
              ::testing::ExitedWithCode(3), "did not end within 200 ms");
}
#else
TEST(RunInChild, ABodyPastItsLimitIsStoppedAndSaysSo) {
  const auto start = std::chrono::steady_clock::now();
  const ChildResult r = RunInChild(
      [] {
        std::this_thread::sleep_for(std::chrono::seconds(30));
        return 0;
      },
      {}, std::chrono::milliseconds(200));
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.exitCode, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}
#endif

}  // namespace
}  // namespace skelder::test
