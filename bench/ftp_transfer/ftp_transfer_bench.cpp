// Upload and download of one large file to vsftpd on loopback, active mode, with the buffer
// sizes the deployment uses (receive 8,192, send 4,096) and with the defaults (32,768), beside
// curl -T and curl -o against the same server in the same run, in alternating order. Each
// transfer runs in a process of its own, so its time includes start-up and log-in on both
// sides and its peak RSS is its own. Then 2,000 uploads of 1 KiB files in one session.
//
// Two bare clients run beside them: a few lines of plain sockets that log in, open an active
// data connection and drain it with receives of 8,192 and of 102,400 bytes (what curl asks
// for). They tell how fast a download can be at all when each receive is held to a size, on
// this machine, in this run.
//
// The served files live on /dev/shm when the machine has it (--work puts them elsewhere): what
// is measured is the clients, and a disk's write-back after each 1 GiB upload would stand in
// the way of whichever transfer comes next. The file system is also synced between uploads.
//
//   bench_ftp_transfer [--mib N] [--rounds N] [--files N] [--work DIR] [--downloads-only]
//                      (defaults: 1024, 5, 2000)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
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

Run OurTransfer(const test::FtpServer& server, bool upload, const std::string& localFile, int32_t recv, int32_t send) {
  return InChild([&] {
    try {
      ftp::TNetFTP client;
      client.SetHost(server.host());
      client.SetPortNumber(server.port());
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

// A download with nothing but sockets: log in, PORT, RETR, then drain the data connection after
// each readiness wait with receives of at most `piece` bytes into a 256 KiB block, written to
// /dev/null a block at a time. Exit status 0 when the whole file came.
int BareDownload(const test::FtpServer& server, const std::string& name, size_t piece, uint64_t expected) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(server.port());
  if (inet_pton(AF_INET, server.host().c_str(), &addr.sin_addr) != 1) return 1;
  int control = socket(AF_INET, SOCK_STREAM, 0);
  if (connect(control, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
  std::string pending;
  auto reply = [&]() -> int {  // the code of the next complete reply
    for (;;) {
      size_t end;
      while ((end = pending.find("\r\n")) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        if (line.size() >= 4 && line[3] == ' ') return std::atoi(line.substr(0, 3).c_str());
      }
      char buf[4096];
      ssize_t n = recv(control, buf, sizeof buf, 0);
      if (n <= 0) return -1;
      pending.append(buf, static_cast<size_t>(n));
    }
  };
  auto command = [&](const std::string& line) {
    const std::string out = line + "\r\n";
    return send(control, out.data(), out.size(), 0) == static_cast<ssize_t>(out.size()) ? reply() : -1;
  };
  if (reply() != 220 || command("USER anonymous") != 331 || command("PASS bench@example.com") != 230 ||
      command("TYPE I") != 200)
    return 1;
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local = addr;
  local.sin_port = 0;
  socklen_t len = sizeof local;
  if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&local), &len) != 0)
    return 1;
  const uint32_t ip = ntohl(local.sin_addr.s_addr);
  const unsigned port = ntohs(local.sin_port);
  char portLine[64];
  std::snprintf(portLine, sizeof portLine, "PORT %u,%u,%u,%u,%u,%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255,
                ip & 255, port >> 8, port & 255);
  if (command(portLine) != 200 || command("RETR " + name) != 150) return 1;
  int data = accept(listener, nullptr, nullptr);
  if (data < 0) return 1;
  int sink = open("/dev/null", O_WRONLY);
  std::vector<char> block(256 * 1024);
  uint64_t got = 0;
  for (bool open = true; open;) {
    pollfd p{data, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) return 1;
    size_t filled = 0;
    for (int flags = 0; filled < block.size(); flags = MSG_DONTWAIT) {
      ssize_t n = recv(data, block.data() + filled, std::min(piece, block.size() - filled), flags);
      if (n == 0) open = false;
      if (n <= 0) break;
      filled += static_cast<size_t>(n);
    }
    if (filled > 0 && write(sink, block.data(), filled) != static_cast<ssize_t>(filled)) return 1;
    got += filled;
  }
  close(data);
  close(listener);
  const int done = reply();
  close(control);
  return got == expected && done == 226 ? 0 : 1;
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
  int rounds = 5;
  std::string work = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
  int files = 2000;
  bool uploads = true;
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (!std::strcmp(argv[i], "--downloads-only"))
      uploads = false;
    else if (!std::strcmp(argv[i], "--mib") && value)
      mib = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--rounds") && value)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--files") && value)
      files = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--work") && value)
      work = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--mib N] [--rounds N] [--files N] [--work DIR] [--downloads-only]\n", argv[0]);
      return 2;
    }
  }
  const uint64_t bytes = mib << 20;
  const double megabytes = static_cast<double>(bytes) / 1e6;

  if (!work.empty()) setenv("TMPDIR", work.c_str(), 1);
  test::VsftpdServer server;
  std::string why;
  if (!server.Start(&why)) {
    std::fprintf(stderr, "cannot start vsftpd: %s\n", why.c_str());
    return 1;
  }
  const std::string source = server.root() + "/down.bin";  // served for downloads, read for uploads
  const std::string uploaded = server.root() + "/up.bin";
  const std::string url = "ftp://" + server.host() + ":" + std::to_string(server.port()) + "/";
  std::printf("file: %llu MiB, %d rounds, vsftpd on %s:%u, active mode, serving %s\n",
              static_cast<unsigned long long>(mib), rounds, server.host().c_str(), server.port(),
              server.root().c_str());
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
      {"bare 8192", nullptr, [&] { return InChild([&] { return BareDownload(server, "down.bin", 8192, bytes); }); }},
      {"bare 102400", nullptr,
       [&] { return InChild([&] { return BareDownload(server, "down.bin", 102400, bytes); }); }},
  };

  std::map<std::string, std::vector<double>> up, down;
  std::map<std::string, long> rss;
  bool failed = false;
  // Between transfers the file system is brought to rest outside the timed part: an upload
  // leaves written data for the kernel to put away, and whoever transfers next would pay for it.
  const auto settle = [] { ::sync(); };
  settle();
  for (int r = 0; r < rounds; ++r) {
    // The order turns by one each round, so over as many rounds as there are variants each one
    // runs once in every position: none is always first after a pause or always last. All
    // uploads of a round, then all downloads, so a download never follows an upload.
    std::vector<size_t> order(variants.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = (i + static_cast<size_t>(r)) % order.size();
    auto record = [&](const Variant& v, const Run& run, std::map<std::string, std::vector<double>>& into) {
      if (!run.ok) {
        std::fprintf(stderr, "%s: a transfer failed\n", v.name.c_str());
        failed = true;
      }
      into[v.name].push_back(megabytes / run.seconds);
      rss[v.name] = std::max(rss[v.name], run.peakRssKiB);
    };
    for (size_t i : order) {
      const Variant& v = variants[i];
      if (!uploads || !v.upload) continue;
      record(v, v.upload(), up);
      std::remove(uploaded.c_str());
      settle();
    }
    for (size_t i : order) record(variants[i], variants[i].download(), down);
  }

  const double curlUp = Median(up["curl"]);
  const double curlDown = Median(down["curl"]);
  std::printf("%-20s %12s %12s %10s %10s %14s\n", "variant", "upload MB/s", "download MB/s", "up ratio", "down ratio",
              "peak RSS KiB");
  for (const Variant& v : variants) {
    const double d = Median(down[v.name]);
    char upText[32] = "-", upRatio[32] = "-";
    if (!up[v.name].empty()) {
      const double u = Median(up[v.name]);
      std::snprintf(upText, sizeof upText, "%.1f", u);
      std::snprintf(upRatio, sizeof upRatio, "%.2f", u / curlUp);
    }
    std::printf("%-20s %12s %12.1f %10s %10.2f %14ld\n", v.name.c_str(), upText, d, upRatio, d / curlDown, rss[v.name]);
  }
  std::printf("goal: ratios of at least 0.90 against curl (medians of %d rounds)\n", rounds);
  std::printf("downloads held to 8,192-byte receives: skelder / bare %.2f; bare 8,192 / bare 102,400 %.2f\n",
              Median(down["skelder 8192/4096"]) / Median(down["bare 8192"]),
              Median(down["bare 8192"]) / Median(down["bare 102400"]));

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
    client.SetPortNumber(server.port());
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
