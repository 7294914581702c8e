// Time per file of CopyFile into a folder that fills up as it goes, and of letter-case lookups
// in it, at two sizes. Each copy first misses the exact name and consults the folder's index;
// linear growth shows as a per-file ratio near 1 between the sizes, a folder scan per miss
// would show a ratio near 10. cp -p on the same files is the yardstick.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files.h"

namespace fs = std::filesystem;
using namespace skelder::platform;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Result {
  double copyPerFile;
  double lookupPerFile;
  double cpPerFile;
};

Result Run(const std::string& base, int files) {
  std::string src = base + "/src" + std::to_string(files);
  std::string dst = base + "/dst" + std::to_string(files);
  std::string cpDst = base + "/cp" + std::to_string(files);
  fs::create_directories(src);
  fs::create_directories(dst);
  for (int i = 0; i < files; ++i) {
    std::ofstream(src + "/Page" + std::to_string(i) + ".htm") << "<html>" << i << "</html>\n";
  }

  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < files; ++i) {
    std::string name = "/Page" + std::to_string(i) + ".htm";
    int code = 0;
    if (!CopyFileWithTimes(src + name, dst + name, false, &code)) {
      std::fprintf(stderr, "copy failed: %s (%d)\n", name.c_str(), code);
      std::exit(1);
    }
  }
  double copy = Seconds(start);

  start = std::chrono::steady_clock::now();
  int found = 0;
  for (int i = 0; i < files; ++i) found += FileExists(dst + "/page" + std::to_string(i) + ".HTM");
  double lookup = Seconds(start);
  if (found != files) {
    std::fprintf(stderr, "lookup found %d of %d\n", found, files);
    std::exit(1);
  }

  start = std::chrono::steady_clock::now();
  std::string command = "cp -p -r '" + src + "' '" + cpDst + "'";
  if (std::system(command.c_str()) != 0) std::exit(1);
  double cp = Seconds(start);

  DeleteTree(src);
  DeleteTree(dst);
  DeleteTree(cpDst);
  return {copy / files, lookup / files, cp / files};
}

}  // namespace

int main(int argc, char** argv) {
  int small = argc > 1 ? std::atoi(argv[1]) : 10000;
  int large = argc > 2 ? std::atoi(argv[2]) : 100000;
  std::string base = TempDirectory() + "skelder-bench-files";
  DeleteTree(base);
  fs::create_directories(base);
  Result a = Run(base, small);
  Result b = Run(base, large);
  DeleteTree(base);
  std::printf("%-28s %12s %12s %8s\n", "per file (us)", std::to_string(small).c_str(), std::to_string(large).c_str(),
              "ratio");
  std::printf("%-28s %12.2f %12.2f %8.2f\n", "CopyFile, case lookup miss", a.copyPerFile * 1e6, b.copyPerFile * 1e6,
              b.copyPerFile / a.copyPerFile);
  std::printf("%-28s %12.2f %12.2f %8.2f\n", "FileExists, other case", a.lookupPerFile * 1e6, b.lookupPerFile * 1e6,
              b.lookupPerFile / a.lookupPerFile);
  std::printf("%-28s %12.2f %12.2f %8.2f\n", "cp -p -r (one process)", a.cpPerFile * 1e6, b.cpPerFile * 1e6,
              b.cpPerFile / a.cpPerFile);
  std::printf("CopyFile / cp -p at %d files: %.2f\n", large, b.copyPerFile / b.cpPerFile);
  return 0;
}
