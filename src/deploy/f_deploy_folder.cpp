// The folder target of the deploy dialog: publishes the fetched folder to one directory location,
// through the location opened once and never through a link inside it, under the location's lock.
#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_set>

#include "deploy/deploy_record.h"
#include "deploy/f_deploy.h"
#include "deploy/u_utils.h"
#include "platform/clock.h"
#include "platform/display_text.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/termination.h"

namespace skelder::deploy {

bool TfrmDeploy::LockLocation(const std::string& location, const platform::Folder& site) {
  const uint64_t start = platform::NowMs();
  bool waiting = false;
  for (;;) {
    switch (site.Lock()) {
      case platform::DirectoryLock::Result::Locked:
        if (waiting) {
          lblAction.caption.clear();
          Repaint();
        }
        return true;
      case platform::DirectoryLock::Result::Unsupported:
        // A file system without such locks (some network shares): deploy as before, and say so.
        Log("   The location '" + location + "' cannot be locked against another deployment at the same time (" +
            std::strerror(errno) + ")");
        return true;
      case platform::DirectoryLock::Result::Busy:
        break;
    }
    if (!waiting) {
      waiting = true;
      lblAction.caption = "Waiting for another deployment to finish with '" + location + "'...";
      Repaint();
    }
    if (platform::NowMs() - start >= kLocationLockWaitMs) {
      FLastError = "Another deployment holds the location '" + location + "'";
      Log("   " + FLastError);
      return false;
    }
    platform::SleepMs(kLocationLockPollMs);
    ProcessMessages();
    while (FPaused) ProcessMessages();
    if (FCancelled || platform::TerminationRequested()) {
      FCancelled = true;
      Log(std::string("   ") + kCancelledByUser);
      FLastError = kCancelledBox;
      return false;
    }
  }
}

bool TfrmDeploy::DeployToFolder(const std::string& locationLine) {
  bool result = true;
  const std::string location = AddBackslash(locationLine);
  const std::string recordPath = location + kDeployRecordName;
  BeginLocation(location);

  if (!platform::ForceDirectories(location, platform::Lookup::Exact) ||
      !platform::DirectoryExists(location, platform::Lookup::Exact)) {
    Log(std::string("   ") + kCannotCreateFolder);
    FLastError = kCannotCreateFolder;
    StepProgress(MainProgress);
    return false;
  }
  // Everything below goes through the location opened once, never through a link inside it.
  platform::Folder site;
  if (!site.Open(location)) {
    Log(std::string("   ") + kCannotCreateFolder);
    FLastError = kCannotCreateFolder;
    StepProgress(MainProgress);
    return false;
  }
  // One deployment at a time per location, from reading the record to writing it: two at once
  // would each write back a record without the other's files.
  if (!LockLocation(location, site)) {
    StepProgress(MainProgress);
    return false;
  }
  if (site.Kind(kDeployRecordName) == platform::EntryKind::Directory) {
    // The record could never be written back; refuse before anything is copied.
    FLastError = "The deployment record '" + recordPath + "' is a folder";
    Log("   " + FLastError);
    StepProgress(MainProgress);
    return false;
  }
  std::string recordProblem;
  TDeployRecord record = TDeployRecord::ReadFile(site, kDeployRecordName, recordPath, &recordProblem);
  if (!recordProblem.empty()) Log("   " + recordProblem);

  // Under the lock no other deployment writes here: partial files of dead ones go, in each
  // folder the first time it is visited.
  site.RemoveAbandonedPartialFiles();
  std::unordered_set<std::string> visited;
  std::string currentRel;
  platform::Folder current;  // the folder of `currentRel`; the location itself for ""
  for (const auto& file : *FFiles) {
    std::string rel, shown;
    if (!BeginFile(file, rel, shown)) {
      result = false;
      break;
    }
    if (rel != currentRel || (!rel.empty() && !current.IsOpen())) {
      std::string where;
      current.Close();
      const TSubfolderResult opened =
          rel.empty() ? TSubfolderResult::Ready : OpenSubfolders(site, location, rel, current, where);
      if (opened != TSubfolderResult::Ready) {
        FailFile(shown, opened == TSubfolderResult::Link ? "Refused: the folder '" + where + "' is a symbolic link"
                                                         : std::string(kCannotCreateFolder));
        result = false;
        break;
      }
      currentRel = rel;
      if (current.IsOpen() && visited.insert(rel).second) current.RemoveAbandonedPartialFiles();
    }
    const platform::Folder& targetDir = current.IsOpen() ? current : site;

    std::vector<std::string> group;
    if (!GroupToSend(file, rel, shown, record, group)) {
      result = false;
      break;
    }
    if (!group.empty()) {
      int errorCode = 0;
      bool copied = true;
      for (const auto& candidate : group) {
        const std::string target = platform::ExtractFileName(candidate);
        targetDir.ClearReadOnly(target);
        if (!targetDir.CopyFileIn(candidate, target, &errorCode)) {
          copied = false;
          break;
        }
      }
      if (!copied) {
        FLastError = "   " + shown + " - Error Code: " + std::to_string(errorCode);
        ++FTally.Failed;
        Log(FLastError);
        result = false;
        break;
      }
      record.SetAge(file.Info.FileId, FFileAges.Age(file.Info.FileId));
      FileSent(shown, group.size());
    } else {
      FileUnchanged();
    }

    if (CancelRequested(shown)) {
      result = false;
      break;
    }
    StepProgress(ActionProgress);
    ProcessMessages();
  }

  StepProgress(MainProgress);
  record.WriteFile(site, kDeployRecordName, recordPath);
  return result;
}

}  // namespace skelder::deploy
