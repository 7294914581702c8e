// Time per file of collection and of the send-or-skip rule, at two sizes. Linear growth shows
// as a per-file ratio near 1 between the sizes; a scan per file would show a ratio near 10.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "deploy/deploy_command.h"
#include "deploy/deploy_record.h"

using namespace skelder::deploy;

namespace {

constexpr int kFilesPerFolder = 20;
constexpr int kRepeats = 7;

struct HostFolder {
  std::string path;
  int32_t id;
};
struct HostFile {
  std::string name;
  std::string lock;
  int32_t id;
  int32_t folderId;
};

// A repository whose root holds the deployed folder "$/web" with its subfolders and, beside it,
// as many folders outside it, whose files the filter drops.
struct Repository {
  std::vector<HostFolder> folders;
  std::vector<HostFile> files;
};

Repository MakeRepository(int fileCount) {
  Repository repo;
  const int folderCount = fileCount / kFilesPerFolder;
  repo.folders.push_back({"$", 1});
  repo.folders.push_back({"$/web", 2});
  for (int i = 0; i < folderCount; ++i) {
    const bool inside = i % 2 == 0;
    repo.folders.push_back({(inside ? "$/web/dir" : "$/website/dir") + std::to_string(i), 100 + i});
  }
  for (int i = 0; i < fileCount; ++i) {
    const int folder = i % (folderCount + 1);
    const int32_t folderId = folder == folderCount ? 2 : 100 + folder;
    repo.files.push_back({"page" + std::to_string(i) + ".htm", i % 50 == 0 ? "alice" : "", 1000000 + i, folderId});
  }
  return repo;
}

// CPU time of this thread: on a shared machine wall time mostly measures the other processes.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Folder and file callbacks as the host drives them, the locked-files second pass, both filters.
size_t Collect(const Repository& repo) {
  TFolderList folders;
  TFileList files;
  for (const auto& f : repo.folders) CollectFolder(&folders, "", "", f.path, f.id, 0, 0, 0);
  FilterFolders(folders, "$/web");
  TFileCollector collector;
  collector.Files = &files;
  for (const auto& f : repo.files)
    if (!CollectFile(&collector, f.name, "", f.lock, f.id, f.folderId, 0, 0, 0, 0, 0, 0, 0, 0, 0)) break;
  files.clear();
  collector.TakeLockedFiles = true;
  for (const auto& f : repo.files)
    CollectFile(&collector, f.name, "", f.lock, f.id, f.folderId, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  FilterFiles(files, folders);
  return files.size();
}

// A record of the same size, half of it current; the rule for every file, then the record
// written back as text.
size_t SendOrSkip(const Repository& repo, const std::string& recordText) {
  TCurrentAges ages;
  for (const auto& f : repo.files) ages.Add(f.id, 5000);
  TDeployRecord record = TDeployRecord::FromText(recordText);
  size_t sent = 0;
  for (const auto& f : repo.files) {
    const int32_t age = ages.Age(f.id);
    if (ShouldSend(record, f.id, age)) {
      record.SetAge(f.id, age);
      ++sent;
    }
  }
  return sent + record.ToText().size() % 2;
}

std::string MakeRecordText(const Repository& repo) {
  std::string text;
  // Reversed, so that lookups do not simply walk the record in order.
  for (auto it = repo.files.rbegin(); it != repo.files.rend(); ++it)
    text += std::to_string(it->id) + "=" + (it->id % 2 == 0 ? "5000" : "4000") + "\r\n";
  return text;
}

struct Timing {
  double collectPerFile;
  double rulePerFile;
};

Timing Measure(int fileCount) {
  const Repository repo = MakeRepository(fileCount);
  const std::string recordText = MakeRecordText(repo);
  double collectBest = 1e9, ruleBest = 1e9;
  size_t sink = 0;
  for (int r = 0; r < kRepeats; ++r) {
    const double t0 = CpuSeconds();
    sink += Collect(repo);
    const double t1 = CpuSeconds();
    sink += SendOrSkip(repo, recordText);
    const double t2 = CpuSeconds();
    collectBest = std::min(collectBest, t1 - t0);
    ruleBest = std::min(ruleBest, t2 - t1);
  }
  if (sink == 0) std::printf("(nothing collected)\n");
  return {collectBest / fileCount, ruleBest / fileCount};
}

}  // namespace

int main() {
  const Timing small = Measure(10000);
  const Timing large = Measure(100000);
  std::printf("CPU time per file, best of %d runs\n", kRepeats);
  std::printf("%-14s %16s %16s\n", "files", "collect ns/file", "send-or-skip ns/file");
  std::printf("%-14d %16.1f %16.1f\n", 10000, small.collectPerFile * 1e9, small.rulePerFile * 1e9);
  std::printf("%-14d %16.1f %16.1f\n", 100000, large.collectPerFile * 1e9, large.rulePerFile * 1e9);
  std::printf("per-file ratio 100,000 / 10,000: collect %.2f, send-or-skip %.2f (1.00 is linear)\n",
              large.collectPerFile / small.collectPerFile, large.rulePerFile / small.rulePerFile);
  return 0;
}
