// FTP deployment through the add-in's exports beside `lftp -e "mirror -R"` (one connection,
// active mode) of the same tree to the same vsftpd on loopback, in the same run:
//   - a first deployment of 2,000 files of 4 KiB in 40 folders, against lftp's first mirror
//     (goal: no slower, although every upload changes directory twice);
//   - a deployment with nothing changed, against lftp's no-change mirror, which lists every
//     remote directory (goal: at least 4 times faster).
// --tls does the same over explicit TLS (an ftps:// location; lftp with ftp:ssl-force), both
// in passive mode, with a certificate of the tests' own authority (goal: no slower than lftp).
// The run's clean-up waits are taken out with the virtual clock. vsftpd listens on
// 127.0.0.41:21 (root needed).
//
// Everything (repository, temporary folders, served tree) lives under one work folder, on
// /dev/shm when the machine has it. Each deployment makes and deletes 2,000 files within
// milliseconds; on a disk file system without a journal the kernel then searches past every
// recently deleted inode for each new file, and that cost follows the file system's recent
// history rather than the programs measured. --work puts the tree elsewhere.
//
//   bench_deploy_ftp [--files N] [--folders N] [--rounds N] [--host ADDRESS] [--work DIR]
//                    [--no-change-only] [--tls]
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tls_certificates.h"
#include "deploy/d_ftp.h"
#include "deploy/deploy_record.h"
#include "ftp_servers.h"
#include "addin_driver.h"
#include "hostsim_fixture.h"
#include "test_support.h"

namespace fs = std::filesystem;
using skelder::test::TempDir;

namespace {

using skelder::bench::Addin;
using skelder::bench::Seconds;

// Over explicit TLS (caFile not empty) both sides use passive mode, as a deployment to an
// ftps:// location does by default; lftp is made to protect the log-in and every data connection.
double Mirror(const std::string& host, const std::string& from, const std::string& to, const std::string& caFile) {
  const std::string mode = caFile.empty() ? "set ftp:passive-mode off; "
                                          : "set ftp:passive-mode on; set ftp:ssl-force true; "
                                            "set ftp:ssl-protect-data true; set ssl:ca-file " +
                                                caFile + "; ";
  const std::string command = "lftp -e \"" + mode + "set net:max-retries 1; mirror -R --parallel=1 '" + from + "' '" +
                              to + "'; quit\" -u anonymous,bench@localhost ftp://" + host + " >/dev/null 2>&1";
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("lftp failed: " + command);
  return Seconds(std::chrono::steady_clock::now() - start);
}

size_t CountFiles(const std::string& root) { return skelder::test::ListFiles(root).size(); }

// What a no-change FTP location does on the network, timed on its own through the FTP module:
// log in, fetch the record, decide for every file, store the record back, close.
double NoChangeLocation(const std::string& host, const std::string& base, const std::string& scratch, int files,
                        bool tls) {
  skelder::deploy::TdmFtp ftp;
  ftp.SetTls(tls, {});
  ftp.SetPassive(tls);
  std::string message;
  const auto start = std::chrono::steady_clock::now();
  if (!ftp.OpenSite(host, "", "", base, message, nullptr)) throw std::runtime_error("open: " + message);
  if (!ftp.GetFile(scratch, skelder::deploy::kDeployRecordName, message)) throw std::runtime_error("get: " + message);
  skelder::deploy::TDeployRecord record = skelder::deploy::TDeployRecord::ReadFile(scratch);
  int sent = 0;
  for (int i = 0; i < files; ++i) {
    const int32_t id = static_cast<int32_t>(
        std::stoi(record.Lines()[static_cast<size_t>(i)].substr(0, record.Lines()[static_cast<size_t>(i)].find('='))));
    if (skelder::deploy::ShouldSend(record, id, record.Age(id))) ++sent;
  }
  const std::string local = scratch + ".out/" + skelder::deploy::kDeployRecordName;
  fs::create_directories(scratch + ".out");
  record.WriteFile(local);
  if (!ftp.PutFile(local, "", message)) throw std::runtime_error("put: " + message);
  ftp.CloseSite();
  const double s = Seconds(std::chrono::steady_clock::now() - start);
  if (sent != 0) throw std::runtime_error("the record asks for files to be sent again");
  return s;
}

// What any run that checks out every file costs at least: each file of the repository copied
// into a fresh folder with its mode and time (open, look, create, copy, stamp, close), its age
// read back, and the folder deleted afterwards. Plain calls, no host, no add-in.
double CheckOutFloor(const std::string& repository, const std::string& scratch) {
  std::vector<std::pair<std::string, std::string>> files;                // relative folder, name
  for (const std::string& rel : skelder::test::ListFiles(repository)) {  // relative paths
    if (rel.rfind(".ardmoor", 0) == 0) continue;
    const size_t slash = rel.rfind('/');
    files.emplace_back(slash == std::string::npos ? "" : rel.substr(0, slash),
                       slash == std::string::npos ? rel : rel.substr(slash + 1));
  }
  const auto start = std::chrono::steady_clock::now();
  std::string made;
  for (const auto& [folder, name] : files) {
    const std::string dir = scratch + "/" + folder;
    if (folder != made) {
      fs::create_directories(dir);
      made = folder;
    }
    const std::string from = repository + "/" + folder + "/" + name, to = dir + "/" + name;
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    int out = in < 0 || fstat(in, &st) != 0 ? -1 : open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) throw std::runtime_error("the check-out floor cannot copy " + from);
    for (off_t done = 0; done < st.st_size;) {
      ssize_t n = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(st.st_size - done), 0);
      if (n <= 0) break;
      done += n;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    fchmod(out, st.st_mode & 07777);
    futimens(out, times);
    close(out);
    close(in);
    struct stat age {};
    stat(to.c_str(), &age);
  }
  fs::remove_all(scratch);
  return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  int files = 2000, folders = 40, rounds = 5;
  bool noChangeOnly = false, tls = false;
  std::string host = "127.0.0.41";
  std::string workBase = fs::is_directory("/dev/shm") ? "/dev/shm" : "";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--files" && i + 1 < argc)
      files = std::atoi(argv[++i]);
    else if (a == "--folders" && i + 1 < argc)
      folders = std::atoi(argv[++i]);
    else if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--host" && i + 1 < argc)
      host = argv[++i];
    else if (a == "--work" && i + 1 < argc)
      workBase = argv[++i];
    else if (a == "--no-change-only")
      noChangeOnly = true;
    else if (a == "--tls")
      tls = true;
    else {
      std::fprintf(stderr,
                   "usage: %s [--files N] [--folders N] [--rounds N] [--host ADDRESS] [--work DIR] "
                   "[--no-change-only] [--tls]\n",
                   argv[0]);
      return 2;
    }
  }
  try {
    if (std::system("command -v lftp >/dev/null 2>&1") != 0) throw std::runtime_error("lftp is not installed");
    if (!workBase.empty()) setenv("TMPDIR", workBase.c_str(), 1);
    TempDir work("skelder-bench-ftp-");
    skelder::test::HostSimUser user;
    user.SetInstallDir(skelder::test::BinDir());
    fs::create_directories(work / "tmp");
    setenv("TMPDIR", (work / "tmp").c_str(), 1);

    skelder::test::FtpServerOptions options;
    options.host = host;
    options.port = 21;
    options.root = work / "served";
    std::string caFile;
    if (tls) {
      const auto& certificates = skelder::test::Certificates();
      if (!certificates.why.empty()) throw std::runtime_error("no certificates: " + certificates.why);
      options.tlsCert = certificates.good.cert;
      options.tlsKey = certificates.good.key;
      caFile = certificates.caFile;
    }
    fs::create_directories(options.root);
    skelder::test::VsftpdServer server(options);
    std::string why;
    if (!server.Start(&why)) throw std::runtime_error("cannot start vsftpd: " + why);

    skelder::test::HostSimRepository repo;
    std::string block(4096, 'x');
    for (int i = 0; i < files; ++i) {
      for (int k = 0; k < 16; ++k) block[static_cast<size_t>(k)] = static_cast<char>('a' + (i >> k) % 26);
      repo.File("dir" + std::to_string(i % folders) + "/file" + std::to_string(i) + ".htm", block);
    }
    // vsftpd, running as the launching user, names its files by their real paths.
    const std::string ours = options.root + "/skelder", theirs = options.root + "/lftp";
    fs::create_directories(ours);
    const std::string scheme = tls ? "ftps://" : "ftp://";
    const std::string ftpNotes = "[Web Folder]\r\nDeployTo=" + scheme + host + ours + "\r\nEnabled=1\r\n";
    repo.Notes("", ftpNotes);
    const std::string folderId = std::to_string(repo.FolderId(""));
    std::printf("tree: %d files of 4 KiB in %d folders; vsftpd on %s:21, %s; work folder %s\n", files, folders,
                host.c_str(), tls ? "explicit TLS, passive mode" : "active mode", work.path().c_str());

    Addin addin(work / "install");
    if (noChangeOnly) {
      // For profiling: the no-change deployment alone, over and over.
      addin.Deploy(folderId);
      for (int r = 0; r < rounds; ++r) std::printf("no-change deployment: %8.4f s\n", addin.Deploy(folderId));
      return 0;
    }
    const double lftpFirst = Mirror(host, repo.Root(), theirs, caFile);
    const double first = addin.Deploy(folderId);
    if (CountFiles(ours) != static_cast<size_t>(files) + 1)
      throw std::runtime_error("the deployment arrived incomplete: " + std::to_string(CountFiles(ours)) + " files");
    // No-change runs, alternating with lftp's, best of the rounds each (the machine is shared). A
    // run without any location tells what fetching the files from the host and cleaning up cost.
    const std::string noLocation = "[Web Folder]\r\nDeployTo=\r\nEnabled=1\r\n";
    double again = 1e9, lftpAgain = 1e9, fetchOnly = 1e9, location = 1e9, floor = 1e9;
    for (int round = 0; round < rounds; ++round) {
      again = std::min(again, addin.Deploy(folderId));
      lftpAgain = std::min(lftpAgain, Mirror(host, repo.Root(), theirs, caFile));
      location = std::min(location, NoChangeLocation(host, ours, work / "record", files, tls));
      floor = std::min(floor, CheckOutFloor(repo.Root(), work / "floor"));
      repo.Notes("", noLocation);
      fetchOnly = std::min(fetchOnly, addin.Deploy(folderId));
      repo.Notes("", ftpNotes);
    }
    if (CountFiles(theirs) < static_cast<size_t>(files)) throw std::runtime_error("lftp's mirror is incomplete");

    std::printf("lftp mirror -R, first:       %8.3f s\n", lftpFirst);
    std::printf("first deployment:            %8.3f s  ratio to lftp: %.2f (goal <= 1.0)\n", first, first / lftpFirst);
    std::printf("lftp mirror -R, no change:   %8.3f s  (best of %d)\n", lftpAgain, rounds);
    std::printf("no-change deployment:        %8.3f s  lftp / deployment: %.2f (goal >= 4)  (best of %d)\n", again,
                lftpAgain / again, rounds);
    std::printf("  fetching from the host:    %8.3f s  (the same run with no location, best of %d)\n", fetchOnly,
                rounds);
    std::printf(
        "  the FTP location itself:   %8.3f s  lftp / FTP location: %.2f (its network work through\n"
        "                                        the FTP module, best of %d)\n",
        location, lftpAgain / location, rounds);
    std::printf(
        "  check-out floor:           %8.3f s  lftp / floor: %.2f (copying every file out and deleting\n"
        "                                        the copies with plain calls, best of %d)\n",
        floor, lftpAgain / floor, rounds);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_deploy_ftp: %s\n", e.what());
    return 1;
  }
}
