// FTP deployment over 1, 4 and 8 sessions (FtpConnections) through the add-in's exports beside
// `lftp mirror -R --parallel=1/4/8` of the same tree, against a server that stands in for a
// distant one: pyftpdlib's threaded server holding back every reply by a fixed delay
// (delay_ftpd.py beside this file, 20 ms by default), on 127.0.0.66:21 (root needed). Both sides
// use passive mode, as over the internet. In one run, alternating, fresh folders each time:
//   - a first deployment of 500 files of 4 KiB in 20 folders with each number of sessions, and
//     lftp's first mirror with the same number (goals: 8 sessions no slower than lftp's 8, and
//     at least 5 times faster than one session);
//   - the same again with nothing changed, beside lftp's no-change mirror (goal: at least 4 times
//     faster). The run's clean-up waits are taken out with the virtual clock.
//
//   bench_deploy_ftp_parallel [--files N] [--folders N] [--delay-ms N] [--rounds N] [--host ADDRESS]
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin_driver.h"
#include "hostsim_fixture.h"
#include "test_support.h"

namespace fs = std::filesystem;
using skelder::test::TempDir;

namespace {

using skelder::bench::Addin;
using skelder::bench::Seconds;

double Mirror(const std::string& host, int parallel, const std::string& from, const std::string& to) {
  // The repository's own metadata (".ardmoor") is no part of the site.
  const std::string command = "lftp -e \"set net:max-retries 1; mirror -R --parallel=" + std::to_string(parallel) +
                              " -x '^\\.' '" + from + "' '" + to + "'; quit\" -u anonymous,bench@localhost ftp://" +
                              host + " >/dev/null 2>&1";
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("lftp failed: " + command);
  return Seconds(std::chrono::steady_clock::now() - start);
}

size_t CountFiles(const std::string& root) { return skelder::test::ListFiles(root).size(); }

}  // namespace

int main(int argc, char** argv) {
  int files = 500, folders = 20, rounds = 1;
  double delayMs = 20;
  std::string host = "127.0.0.66";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--files" && i + 1 < argc)
      files = std::atoi(argv[++i]);
    else if (a == "--folders" && i + 1 < argc)
      folders = std::max(1, std::atoi(argv[++i]));
    else if (a == "--delay-ms" && i + 1 < argc)
      delayMs = std::atof(argv[++i]);
    else if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--host" && i + 1 < argc)
      host = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--files N] [--folders N] [--delay-ms N] [--rounds N] [--host ADDRESS]\n",
                   argv[0]);
      return 2;
    }
  }
  try {
    if (std::system("command -v lftp >/dev/null 2>&1") != 0) throw std::runtime_error("lftp is not installed");
    if (!skelder::test::CanBind(host, 21)) throw std::runtime_error("cannot bind " + host + ":21 (needs root)");
    if (fs::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
    TempDir work("skelder-bench-parallel-");
    skelder::test::HostSimUser user;
    user.SetInstallDir(skelder::test::BinDir());
    fs::create_directories(work / "tmp");
    setenv("TMPDIR", (work / "tmp").c_str(), 1);

    const std::string served = work / "served";
    fs::create_directories(served);
    char delay[32];
    std::snprintf(delay, sizeof delay, "%g", delayMs);
    const std::string script = skelder::test::SourceDir() + "/bench/deploy_ftp_parallel/delay_ftpd.py";
    skelder::test::ChildProcess server(
        {"/usr/bin/python3", script, "--host", host, "--port", "21", "--root", served, "--delay-ms", delay},
        work / "server.out");
    if (!skelder::test::WaitForListener(host, 21, std::chrono::seconds(15)))
      throw std::runtime_error("the delaying server did not start (pyftpdlib for /usr/bin/python3?)");

    skelder::test::HostSimRepository repo;
    std::string block(4096, 'x');
    for (int i = 0; i < files; ++i) {
      for (int k = 0; k < 16; ++k) block[static_cast<size_t>(k)] = static_cast<char>('a' + (i >> k) % 26);
      repo.File("dir" + std::to_string(i % folders) + "/file" + std::to_string(i) + ".htm", block);
    }
    const std::string folderId = std::to_string(repo.FolderId(""));
    std::printf(
        "tree: %d files of 4 KiB in %d folders; pyftpdlib (threaded) on %s:21 holding every reply %g ms; "
        "passive mode\n",
        files, folders, host.c_str(), delayMs);
    Addin addin(work / "install");

    const int counts[] = {1, 4, 8};
    std::map<int, double> first, again, lftpFirst, lftpAgain;
    for (int round = 0; round < rounds; ++round) {
      for (int n : counts) {
        const std::string ours = "/ours-" + std::to_string(n) + "-" + std::to_string(round);
        const std::string theirs = "/lftp-" + std::to_string(n) + "-" + std::to_string(round);
        fs::create_directories(served + ours);
        repo.Notes("", "[Web Folder]\r\nDeployTo=ftp://" + host + ours +
                           "\r\nFtpPassive=1\r\nFtpConnections=" + std::to_string(n) + "\r\nEnabled=1\r\n");
        // Alternating which goes first, round by round.
        auto deploy = [&] {
          const double f = addin.Deploy(folderId);
          if (CountFiles(served + ours) != static_cast<size_t>(files) + 1)
            throw std::runtime_error("the deployment arrived incomplete");
          const double a = addin.Deploy(folderId);
          first[n] = round ? std::min(first[n], f) : f;
          again[n] = round ? std::min(again[n], a) : a;
        };
        auto mirror = [&] {
          const double f = Mirror(host, n, repo.Root(), theirs);
          if (CountFiles(served + theirs) != static_cast<size_t>(files))
            throw std::runtime_error("lftp's mirror is incomplete");
          const double a = Mirror(host, n, repo.Root(), theirs);
          lftpFirst[n] = round ? std::min(lftpFirst[n], f) : f;
          lftpAgain[n] = round ? std::min(lftpAgain[n], a) : a;
        };
        if (round % 2 == 0) {
          deploy();
          mirror();
        } else {
          mirror();
          deploy();
        }
      }
    }

    std::printf("%-12s %12s %12s %12s %14s %14s %12s\n", "sessions", "deploy [s]", "lftp [s]", "lftp/deploy",
                "no-change [s]", "lftp no-ch [s]", "lftp/deploy");
    for (int n : counts)
      std::printf("%-12d %12.3f %12.3f %12.2f %14.3f %14.3f %12.2f\n", n, first[n], lftpFirst[n],
                  lftpFirst[n] / first[n], again[n], lftpAgain[n], lftpAgain[n] / again[n]);
    std::printf("8 sessions against lftp --parallel=8: %.2f (goal <= 1.0)\n", first[8] / lftpFirst[8]);
    std::printf("1 session / 8 sessions: %.2f (goal >= 5)\n", first[1] / first[8]);
    std::printf("no change, lftp --parallel=8 / deployment: %.2f (goal >= 4)%s\n", lftpAgain[8] / again[8],
                rounds > 1 ? "  (best of the rounds)" : "");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_deploy_ftp_parallel: %s\n", e.what());
    return 1;
  }
}
