// Directory deployment through the add-in's exports, beside `cp -a` of the same tree in the same
// run. A repository of 10,000 files of 4 KiB in 100 folders (stand-in host, made with ardmoor):
//   - the first deployment (check-out and publish), against two `cp -a` copies of the tree;
//   - a deployment with nothing changed, against one `cp -a`.
// The clean-up waits are taken out with the virtual clock. The first deployment runs with the
// terminal backend on a pseudo-terminal, so its live panel is drawn as for a person; the number
// of redraws per second is printed. Then one file of 1 GiB is deployed in a child process and
// its peak resident memory is printed beside that of a deployment of one small file.
//
//   bench_deploy_folder [--files N] [--skip-large] [--settle SECONDS] [--work DIR]
//
// --settle (default 40) pauses before the no-change deployment: each run deletes its temporary
// folder, and right after many files were deleted ext4 creates new ones far more slowly for a
// while, which would charge the file system's recovery to the deployment and not to `cp -a`.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

using HandleCommandFn = uint8_t (*)(const char*, const char*);
using ConfigureFn = uint8_t (*)(const char*, const char*);
using OutcomeFn = int32_t (*)();

std::string g_bin;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string ShellOutput(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("failed: " + command);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (pclose(p) != 0) throw std::runtime_error("failed: " + command);
  return out;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

double TimeCopy(const std::string& from, const std::string& to) {
  auto start = std::chrono::steady_clock::now();
  Shell("cp -a " + Quote(from) + " " + Quote(to));
  return Seconds(std::chrono::steady_clock::now() - start);
}

// A repository of the stand-in host whose notes name one directory location.
std::string MakeRepository(const std::string& repo, const std::string& location) {
  Shell(Quote(g_bin + "/ardmoor") + " init " + Quote(repo) + " >/dev/null");
  WriteText(repo + ".notes", "[Web Folder]\r\nDeployTo=" + location + "\r\nEnabled=1\r\n");
  Shell(Quote(g_bin + "/ardmoor") + " --repository " + Quote(repo) + " notes " + Quote(repo) + " --set " +
        Quote(repo + ".notes"));
  std::istringstream ids(ShellOutput(Quote(g_bin + "/ardmoor") + " --repository " + Quote(repo) + " ids"));
  std::string kind, id;
  ids >> kind >> id;  // the first line is the repository's root folder
  if (kind != "folder") throw std::runtime_error("unexpected ids output");
  return id;
}

// The add-in in an installation folder of its own (its log beside it), the host's folder in
// the registry stand-in.
struct Addin {
  HandleCommandFn handle = nullptr;
  ConfigureFn configure = nullptr;
  OutcomeFn outcome = nullptr;

  explicit Addin(const std::string& install) {
    fs::create_directories(install);
    fs::copy_file(g_bin + "/Skelder.so", install + "/Skelder.so", fs::copy_options::overwrite_existing);
    void* h = dlopen((install + "/Skelder.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) throw std::runtime_error(dlerror());
    handle = reinterpret_cast<HandleCommandFn>(dlsym(h, "VcsHandleCommand"));
    configure = reinterpret_cast<ConfigureFn>(dlsym(h, "SkelderConfigureToolkit"));
    outcome = reinterpret_cast<OutcomeFn>(dlsym(h, "SkelderLastOutcome"));
    if (!handle || !configure || !outcome) throw std::runtime_error("the add-in lacks an export");
  }

  // One Deploy command; the seconds it took.
  double Deploy(const std::string& repo, const std::string& folderId, const char* backend) {
    setenv("ARDMOOR_REPOSITORY", repo.c_str(), 1);
    if (!configure(backend, "yes,virtual-clock")) throw std::runtime_error("toolkit refused");
    auto start = std::chrono::steady_clock::now();
    handle("Deploy", folderId.c_str());
    double s = Seconds(std::chrono::steady_clock::now() - start);
    if (outcome() != 1) throw std::runtime_error("the deployment did not succeed (see the log)");
    return s;
  }
};

// Standard output on a pseudo-terminal for the length of a scope; a thread drains it and
// counts the panel redraws (each redraw clears the panel's rows from the first one).
class PtyStdout {
 public:
  PtyStdout() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
    int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave < 0) throw std::runtime_error("no pty slave");
    fflush(stdout);
    saved_ = dup(1);
    dup2(slave, 1);
    close(slave);
    reader_ = std::thread([this] {
      char buf[65536];
      std::string tail;
      for (;;) {
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) break;
        bytes_ += static_cast<uint64_t>(n);
        std::string chunk = tail + std::string(buf, static_cast<size_t>(n));
        for (size_t at = chunk.find("\r\x1b["); at != std::string::npos; at = chunk.find("\r\x1b[", at + 1)) ++redraws_;
        tail = chunk.size() > 3 ? chunk.substr(chunk.size() - 3) : chunk;
      }
    });
  }
  ~PtyStdout() {
    fflush(stdout);
    dup2(saved_, 1);  // the last slave descriptor closes: the reader sees the end
    close(saved_);
    reader_.join();
    close(master_);
  }
  uint64_t Redraws() const { return redraws_; }
  uint64_t Bytes() const { return bytes_; }

 private:
  int master_ = -1, saved_ = -1;
  std::thread reader_;
  std::atomic<uint64_t> redraws_{0}, bytes_{0};
};

long PeakRssKiBOfChild(const std::function<void()>& body) {
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    try {
      body();
    } catch (const std::exception& e) {
      fprintf(stderr, "%s\n", e.what());
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  struct rusage ru {};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("the child deployment failed");
  return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 10000;
  bool large = true;
  int settle = 40;  // seconds; see the usage text
  std::string work;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--files" && i + 1 < argc)
      files = std::atoi(argv[++i]);
    else if (a == "--skip-large")
      large = false;
    else if (a == "--settle" && i + 1 < argc)
      settle = std::atoi(argv[++i]);
    else if (a == "--work" && i + 1 < argc)
      work = argv[++i];
    else {
      fprintf(stderr, "usage: %s [--files N] [--skip-large] [--settle SECONDS] [--work DIR]\n", argv[0]);
      return 2;
    }
  }
  try {
    g_bin = fs::canonical("/proc/self/exe").parent_path().string();
    char tmpl[] = "/tmp/skelder-bench-deploy-XXXXXX";
    std::string root = work.empty() ? std::string(mkdtemp(tmpl)) : work;
    struct Cleanup {
      std::string dir;
      ~Cleanup() {
        std::error_code ec;
        fs::remove_all(dir, ec);
      }
    } cleanup{root};
    // The stand-in's registry and the run's temporary folders stay inside the work folder.
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    fs::create_directories(root + "/config/Vorn");
    WriteText(root + "/config/Vorn/registry.ini", "[Software\\Vorn\\Ardmoor]\r\nInstallDir=" + g_bin + "\r\n");
    fs::create_directories(root + "/tmp");
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);

    // The tree: 100 folders, files of 4 KiB.
    const std::string repo = root + "/site";
    const int folders = 100;
    std::string block(4096, 'x');
    for (int i = 0; i < files; ++i) {
      std::string dir = repo + "/dir" + std::to_string(i % folders);
      if (i < folders) fs::create_directories(dir);
      for (int k = 0; k < 16; ++k) block[static_cast<size_t>(k)] = static_cast<char>('a' + (i >> k) % 26);
      WriteText(dir + "/file" + std::to_string(i) + ".htm", block);
    }
    const std::string location = root + "/web";
    const std::string folderId = MakeRepository(repo, location);
    printf("tree: %d files of 4 KiB in %d folders; %d s pause before the no-change run\n", files, folders, settle);

    Addin addin(root + "/install");
    // Nothing is deleted between the measurements: on some file systems deleting many files
    // slows down the creation of the next ones, which would load one side of the comparison.
    double cp1 = TimeCopy(repo, root + "/copy1");
    double cp2 = TimeCopy(repo, root + "/copy2");

    double first = 0;
    uint64_t redraws = 0, bytes = 0;
    {
      PtyStdout pty;
      first = addin.Deploy(repo, folderId, "terminal");
      redraws = pty.Redraws();
      bytes = pty.Bytes();
    }
    if (settle > 0) std::this_thread::sleep_for(std::chrono::seconds(settle));
    double again = 0;
    {
      int devnull = open("/dev/null", O_WRONLY), saved = dup(1);
      fflush(stdout);
      dup2(devnull, 1);
      again = addin.Deploy(repo, folderId, "plain");
      fflush(stdout);
      dup2(saved, 1);
      close(saved);
      close(devnull);
    }
    double cpAfter = TimeCopy(repo, root + "/copy3");
    double cp = (cp1 + cp2 + cpAfter) / 3;

    printf("cp -a of the tree:            %8.3f s (mean of 3)\n", cp);
    printf("first deployment:             %8.3f s  ratio to 2 x cp -a: %.2f (goal <= 1.5)\n", first, first / (2 * cp));
    printf("no-change deployment:         %8.3f s  ratio to 1 x cp -a: %.2f (goal <= 1.5)\n", again, again / cp);
    printf("terminal panel redraws:       %8llu in %.3f s = %.1f per second (%llu bytes)\n",
           static_cast<unsigned long long>(redraws), first, redraws / first, static_cast<unsigned long long>(bytes));

    if (large) {
      // Peak memory must not follow file size: one 1 GiB file against one small file.
      auto deployOne = [&](const std::string& name, uint64_t size) {
        const std::string r = root + "/" + name;
        fs::create_directories(r);
        {
          std::ofstream out(r + "/big.bin", std::ios::binary);
          std::string chunk(1 << 20, 'z');
          for (uint64_t done = 0; done < size; done += chunk.size())
            out.write(chunk.data(), static_cast<std::streamsize>(std::min<uint64_t>(chunk.size(), size - done)));
        }
        const std::string id = MakeRepository(r, root + "/" + name + "-web");
        long kib = PeakRssKiBOfChild([&] {
          Addin a(root + "/install-" + name);
          a.Deploy(r, id, "plain");
        });
        uint64_t deployed = fs::file_size(root + "/" + name + "-web/big.bin");
        if (deployed != size) throw std::runtime_error("the large file arrived incomplete");
        fs::remove_all(r);
        fs::remove_all(root + "/" + name + "-web");
        return kib;
      };
      long small = deployOne("small", 4096);
      long big = deployOne("large", uint64_t{1} << 30);
      printf("peak RSS, one 4 KiB file:     %8ld KiB\n", small);
      printf("peak RSS, one 1 GiB file:     %8ld KiB (growth %ld KiB)\n", big, big - small);
    }
    return 0;
  } catch (const std::exception& e) {
    fprintf(stderr, "bench_deploy_folder: %s\n", e.what());
    return 1;
  }
}
