// How the stand-in host scales with the size of a repository: making it (scan and metadata
// write), opening it again (metadata read and scan), and enumerating every file through the
// library's export, at N and 10 N files, against `find` walking the same tree.
//
//   hostsim_scale [N]      (default 10000; the second size is 10 N)
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/xr_vcs_types.h"
#include "hostsim_repository.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void MakeTree(const fs::path& root, int files) {
  // 100 files a folder, 10 folders a level: a site-like shape.
  for (int i = 0; i < files; ++i) {
    int folder = i / 100;
    fs::path dir = root / ("d" + std::to_string(folder / 10)) / ("s" + std::to_string(folder % 10));
    if (i % 100 == 0) fs::create_directories(dir);
    std::ofstream(dir / ("page" + std::to_string(i) + ".htm")) << "<p>" << i << "</p>\n";
  }
}

int g_seen = 0;
skelder::host::HostBool SKELDER_STDCALL Count(void*, void*, const char*, const char*, const char*, int32_t, int32_t,
                                              int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t,
                                              uint8_t) {
  ++g_seen;
  return 1;
}

struct Row {
  double init, open, enumerate, find;
};

Row Measure(const std::string& bin, int files) {
  fs::path root = fs::temp_directory_path() / ("hostsim-scale-" + std::to_string(files));
  fs::remove_all(root);
  MakeTree(root, files);
  Row r{};
  auto t = Clock::now();
  skelder::hostsim::Repository::Init(root.string());
  r.init = Seconds(t);
  t = Clock::now();
  skelder::hostsim::Repository::Open(root.string());
  r.open = Seconds(t);

  setenv(skelder::hostsim::kRepositoryEnvVar, root.c_str(), 1);
  void* lib = dlopen((bin + "/KVOCCore.Dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "cannot load %s/KVOCCore.Dll: %s\n", bin.c_str(), dlerror());
    std::exit(1);
  }
  auto invalidate = reinterpret_cast<skelder::host::TXRDVcsInvalidateCache>(dlsym(lib, "XRDVcsInvalidateCache"));
  auto enumFiles = reinterpret_cast<skelder::host::TXRDVcsEnumFiles>(dlsym(lib, "XRDVcsEnumFiles"));
  g_seen = 0;
  t = Clock::now();
  invalidate();
  enumFiles(1, nullptr, nullptr, Count, 1);  // the root's id is 1 in a new repository
  r.enumerate = Seconds(t);
  dlclose(lib);
  if (g_seen != files) std::fprintf(stderr, "enumerated %d of %d files\n", g_seen, files);

  t = Clock::now();
  std::string cmd = "find '" + root.string() + "' -type f -printf '%T@ %p\\n' > /dev/null";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "find failed\n");
  r.find = Seconds(t);
  fs::remove_all(root);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (n < 100) n = 100;
  std::string bin = fs::canonical("/proc/self/exe").parent_path().string();
  std::printf("%8s %10s %10s %12s %10s %14s\n", "files", "init s", "open s", "enum s", "find s", "enum/find");
  Row small = Measure(bin, n);
  std::printf("%8d %10.3f %10.3f %12.3f %10.3f %14.2f\n", n, small.init, small.open, small.enumerate, small.find,
              small.enumerate / small.find);
  Row big = Measure(bin, 10 * n);
  std::printf("%8d %10.3f %10.3f %12.3f %10.3f %14.2f\n", 10 * n, big.init, big.open, big.enumerate, big.find,
              big.enumerate / big.find);
  std::printf("growth for 10x files: init %.1fx, open %.1fx, enum %.1fx, find %.1fx\n", big.init / small.init,
              big.open / small.open, big.enumerate / small.enumerate, big.find / small.find);
  return 0;
}
