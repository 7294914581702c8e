// Upload and download of one large file to vsftpd on loopback, active mode, with the buffer
// sizes the deployment uses (receive 8,192, send 4,096) and with the defaults (32,768), beside
// curl -T and curl -o against the same server in the same run, in alternating order. Each
// transfer runs in a process of its own, so its time includes start-up and log-in on both
// sides and its peak RSS is its own. Then 2,000 uploads of 1 KiB files in one session.
//
//   bench_ftp_transfer [--mib N] [--rounds N] [--files N]     (defaults: 1024, 3, 2000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ftp/net_ftp.h"
#include "ftp_servers.h"
#include "test_support.h"

using namespace skelder;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
  double seconds = 0;
  long peakRssKiB = 0;
  bool ok = false;
};

// Runs `body` in a child process; its wall time (start to reaped) and peak RSS.
Run InChild(const std::function<int()>& body) {
  const auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.peakRssKiB = usage.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

Run RunCommandTimed(const std::vector<std::string>& argv) {
  return InChild([&] {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    return 127;
  });
}

Run OurTransfer(const test::FtpServer& server, bool upload, const std::string& localFile, int32_t recv,
                int32_t send) {
  return InChild([&] {
    try {
      ftp::TNetFTP client;
      client.SetHost(server.host());
      client.SetPort(server.port());
      client.Username = "anonymous";
      client.Password = "bench@example.com";
      client.RecvBufferSize = recv;
      client.SendBufferSize = send;
      client.OpenSession(true, -1);
      if (upload) {
        client.Upload(localFile, "up.bin", false);
      } else {
        client.Download("down.bin", "/dev/null", true, false);
      }
      client.CloseConnection();
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "transfer failed: %s\n", e.what());
      return 1;
    }
  });
}

void MakeFile(const std::string& path, uint64_t bytes) {
  std::vector<char> block(1 << 20);
  uint32_t x = 12345;
  for (char& c : block) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  for (uint64_t done = 0; done < bytes; done += block.size()) {
    std::fwrite(block.data(), 1, std::min<uint64_t>(block.size(), bytes - done), f);
  }
  std::fclose(f);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mib = 1024;
  int rounds = 3;
  int files = 2000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--mib")) mib = std::strtoull(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
  }
  const uint64_t bytes = mib << 20;
  const double megabytes = static_cast<double>(bytes) / 1e6;

  test::VsftpdServer server;
  std::string why;
  if (!server.Start(&why)) {
    std::fprintf(stderr, "cannot start vsftpd: %s\n", why.c_str());
    return 1;
  }
  const std::string source = server.root() + "/down.bin";  // served for downloads, read for uploads
  const std::string uploaded = server.root() + "/up.bin";
  const std::string url = "ftp://" + server.host() + ":" + std::to_string(server.port()) + "/";
  std::printf("file: %llu MiB, %d rounds, vsftpd on %s:%u, active mode\n", static_cast<unsigned long long>(mib),
              rounds, server.host().c_str(), server.port());
  MakeFile(source, bytes);

  struct Variant {
    std::string name;
    std::function<Run()> upload;
    std::function<Run()> download;
  };
  const std::vector<Variant> variants = {
      {"skelder 8192/4096", [&] { return OurTransfer(server, true, source, 8192, 4096); },
       [&] { return OurTransfer(server, false, source, 8192, 4096); }},
      {"skelder 32768", [&] { return OurTransfer(server, true, source, 32768, 32768); },
       [&] { return OurTransfer(server, false, source, 32768, 32768); }},
      {"curl",
       [&] {
         return RunCommandTimed({"curl", "-s", "-S", "-P", server.host(), "-T", source, url + "up.bin"});
       },
       [&] {
         return RunCommandTimed({"curl", "-s", "-S", "-P", server.host(), "-o", "/dev/null", url + "down.bin"});
       }},
  };

  std::map<std::string, std::vector<double>> up, down;
  std::map<std::string, long> rss;
  bool failed = false;
  for (int r = 0; r < rounds; ++r) {
    // Alternate the order so no variant always runs on a warm or a cold cache.
    std::vector<size_t> order(variants.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = (r % 2 == 0) ? i : order.size() - 1 - i;
    for (size_t i : order) {
      const Variant& v = variants[i];
      Run u = v.upload();
      std::remove(uploaded.c_str());
      Run d = v.download();
      if (!u.ok || !d.ok) {
        std::fprintf(stderr, "%s: a transfer failed\n", v.name.c_str());
        failed = true;
      }
      up[v.name].push_back(megabytes / u.seconds);
      down[v.name].push_back(megabytes / d.seconds);
      rss[v.name] = std::max({rss[v.name], u.peakRssKiB, d.peakRssKiB});
    }
  }

  const double curlUp = Median(up["curl"]);
  const double curlDown = Median(down["curl"]);
  std::printf("%-20s %12s %12s %10s %10s %14s\n", "variant", "upload MB/s", "download MB/s", "up ratio",
              "down ratio", "peak RSS KiB");
  for (const Variant& v : variants) {
    const double u = Median(up[v.name]);
    const double d = Median(down[v.name]);
    std::printf("%-20s %12.1f %12.1f %10.2f %10.2f %14ld\n", v.name.c_str(), u, d, u / curlUp, d / curlDown,
                rss[v.name]);
  }
  std::printf("goal: ratios of at least 0.90 against curl (medians of %d rounds)\n", rounds);

  // Peak RSS must not grow with the file: the same transfer of a file 1/16 the size.
  {
    const std::string small = server.root() + "/small.bin";
    MakeFile(small, std::max<uint64_t>(bytes / 16, 1 << 20));
    Run s = OurTransfer(server, true, small, 8192, 4096);
    std::remove(uploaded.c_str());
    std::remove(small.c_str());
    std::printf("peak RSS, upload of %llu MiB: %ld KiB; of %llu MiB: %ld KiB\n",
                static_cast<unsigned long long>(std::max<uint64_t>(mib / 16, 1)), s.peakRssKiB,
                static_cast<unsigned long long>(mib), rss["skelder 8192/4096"]);
  }
  std::remove(source.c_str());

  // Many small files in one session.
  {
    const std::string dir = server.root() + "/many";
    test::MakeDirs(dir);
    ftp::TNetFTP client;
    client.SetHost(server.host());
    client.SetPort(server.port());
    client.Username = "anonymous";
    client.Password = "bench@example.com";
    client.RecvBufferSize = 8192;
    client.SendBufferSize = 4096;
    client.OpenSession(true, -1);
    client.ChangeDirectory("many");
    const std::string payload(1024, 'k');
    const auto start = Clock::now();
    for (int i = 0; i < files; ++i) {
      ftp::TNetMemoryStream stream(payload);
      try {
        client.Upload(stream, "f" + std::to_string(i) + ".txt", false);
      } catch (const std::exception& e) {
        std::printf("upload %d failed: %s (last reply %d)\n", i, e.what(), client.LastCmdResult().NumericCode());
        failed = true;
        break;
      }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    client.CloseConnection();
    const size_t stored = test::ListFiles(dir).size();
    std::printf("%d uploads of 1 KiB in one session: %.2f s, %.0f files/s (%zu stored)\n", files, seconds,
                files / seconds, stored);
    if (stored != static_cast<size_t>(files)) failed = true;
  }
  return failed ? 1 : 0;
}
