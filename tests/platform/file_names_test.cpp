// The parts of a path that the folder target, the FTP module and file groups take from it.
#include "platform/file_names.h"

#include <gtest/gtest.h>

namespace skelder::platform {
namespace {

TEST(FileNames, NameAndExtensionComeFromTheLastComponentOnly) {
  struct Case {
    const char* path;
    const char* name;
    const char* ext;
    const char* changed;  // ChangeFileExt(path, ".log")
  };
  const Case cases[] = {
      {"/opt/bin/Skelder.so", "Skelder.so", ".so", "/opt/bin/Skelder.log"},
      {"C:\\tmp\\TTS1.tmp", "TTS1.tmp", ".tmp", "C:\\tmp\\TTS1.log"},
      {"/opt/bin.d/Skelder", "Skelder", "", "/opt/bin.d/Skelder.log"},
      {"dir.d\\noext", "noext", "", "dir.d\\noext.log"},
      {"a.b.c", "a.b.c", ".c", "a.b.log"},
      {".hidden", ".hidden", ".hidden", ".log"},
      {"trailing.", "trailing.", ".", "trailing.log"},
      {"", "", "", ".log"},
#ifdef _WIN32
      {"C:name.htm", "name.htm", ".htm", "C:name.log"},  // the drive ends at ":"
#else
      {"a.b:c", "a.b:c", ".b:c", "a.log"},  // ":" belongs to POSIX names
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
    EXPECT_EQ(ExtractFileExt(c.path), c.ext);
    EXPECT_EQ(ChangeFileExt(c.path, ".log"), c.changed);
  }
}

}  // namespace
}  // namespace skelder::platform
