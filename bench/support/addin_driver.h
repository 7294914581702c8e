#pragma once
// What the deployment benchmarks share: the add-in in an installation folder of its own, driven
// through its exports as a host drives it, and seconds from a clock's duration.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "test_support.h"

namespace skelder::bench {

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

class Addin {
 public:
  explicit Addin(const std::string& install) {
    std::filesystem::create_directories(install);
    std::filesystem::copy_file(skelder::test::BinDir() + "/Skelder.so", install + "/Skelder.so",
                               std::filesystem::copy_options::overwrite_existing);
    void* h = dlopen((install + "/Skelder.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) throw std::runtime_error(dlerror());
    handle_ = reinterpret_cast<HandleCommandFn>(dlsym(h, "VcsHandleCommand"));
    configure_ = reinterpret_cast<ConfigureFn>(dlsym(h, "SkelderConfigureToolkit"));
    outcome_ = reinterpret_cast<OutcomeFn>(dlsym(h, "SkelderLastOutcome"));
    if (!handle_ || !configure_ || !outcome_) throw std::runtime_error("the add-in lacks an export");
  }

  // One Deploy command with the plain backend (its lines discarded); the seconds it took.
  double Deploy(const std::string& folderId) {
    if (!configure_("plain", "yes,virtual-clock")) throw std::runtime_error("toolkit refused");
    fflush(stdout);
    int devnull = open("/dev/null", O_WRONLY), saved = dup(1);
    dup2(devnull, 1);
    const auto start = std::chrono::steady_clock::now();
    handle_("Deploy", folderId.c_str());
    const double s = Seconds(std::chrono::steady_clock::now() - start);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(devnull);
    if (outcome_() != 1) throw std::runtime_error("the deployment did not succeed (see the log)");
    return s;
  }

 private:
  using HandleCommandFn = uint8_t (*)(const char*, const char*);
  using ConfigureFn = uint8_t (*)(const char*, const char*);
  using OutcomeFn = int32_t (*)();
  HandleCommandFn handle_ = nullptr;
  ConfigureFn configure_ = nullptr;
  OutcomeFn outcome_ = nullptr;
};

}  // namespace skelder::bench
