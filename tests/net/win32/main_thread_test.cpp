// The responsiveness hook's main thread on Windows is the thread that loaded the add-in (the
// host's user-interface thread), whichever thread of the process that is, and no other.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "test_support.h"

namespace {

using IsMainThreadFunction = int (*)();

TEST(Win32MainThread, TheThreadThatLoadedTheLibraryIsItsMainThread) {
  const std::string path = skelder::test::BinDir() + "\\net_win32_main_thread_library.dll";
  HMODULE library = nullptr;
  IsMainThreadFunction isMainThread = nullptr;
  int onLoader = -1, onLoaderLater = -1;
  // A thread other than the process's first loads the library and asks it twice.
  std::thread loader([&] {
    library = ::LoadLibraryA(path.c_str());
    if (!library) return;
    isMainThread = reinterpret_cast<IsMainThreadFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library, "MainThreadLibraryIsMainThread")));
    if (!isMainThread) return;
    onLoader = isMainThread();
    onLoaderLater = isMainThread();
  });
  loader.join();
  ASSERT_NE(library, nullptr) << path << ": " << ::GetLastError();
  ASSERT_NE(isMainThread, nullptr);
  EXPECT_EQ(onLoader, 1);
  EXPECT_EQ(onLoaderLater, 1);
  // Neither the process's first thread nor a worker is the library's main thread.
  EXPECT_EQ(isMainThread(), 0);
  int onWorker = -1;
  std::thread worker([&] { onWorker = isMainThread(); });
  worker.join();
  EXPECT_EQ(onWorker, 0);
  ::FreeLibrary(library);
}

}  // namespace
