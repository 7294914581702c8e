// The FTP target over several sessions at once (FtpConnections above 1). The record was fetched
// over the first session and is stored over it afterwards, as with one session; in between this
// thread plans the files, makes their folders over the first session, and hands the files to an
// upload pool whose workers send them while the dialog keeps working. What the run records and
// logs is decided here, on this thread, as each file ends.
#include <string>
#include <vector>

#include "deploy/d_ftp.h"
#include "deploy/deploy_record.h"
#include "deploy/f_deploy.h"
#include "deploy/file_group.h"
#include "deploy/ftp_upload_pool.h"
#include "deploy/u_utils.h"
#include "platform/display_text.h"
#include "platform/files.h"
#include "platform/termination.h"

namespace skelder::deploy {

namespace {

constexpr const char* kLineBreakInName = "Refused: an FTP command cannot carry a name holding a line break";

std::string WithSlashes(std::string text) {
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

}  // namespace

bool TfrmDeploy::SendFtpFilesParallel(TdmFtp& ftp, TDeployRecord& record, int connections, const std::string& host) {
  // The plan, in the file list's order: what goes (with its group) and what the record already
  // has. A file the run may not send ends the plan there; the files before it still go.
  struct TPlanned {
    int32_t FileId;
    std::string Shown;
    size_t Files;
  };
  std::vector<TUploadJob> jobs;
  std::vector<TPlanned> planned;
  std::string stoppedAt, stoppedWhy;
  for (const auto& file : *FFiles) {
    StepProgress(ActionProgress);
    const std::string rel = RelativeFolder(file.Info);
    const std::string shown = platform::EscapeControls(WithSlashes(AddBackslash(rel)) + file.Name);
    std::string refused = UnsafePathReason(rel, file.Name);
    if (refused.empty() && (rel + file.Name).find_first_of("\r\n") != std::string::npos) refused = kLineBreakInName;
    std::vector<std::string> group;
    if (refused.empty() && ShouldSend(record, file.Info.FileId, FFileAges.Age(file.Info.FileId)))
      group = FileGroupCandidates(AddBackslash(FTempDir + rel) + file.Name, &refused);
    if (!refused.empty()) {
      stoppedAt = shown;
      stoppedWhy = refused;
      break;
    }
    if (group.empty()) {
      FileUnchanged();
      StepProgress(ActionProgress);
      continue;
    }
    TUploadJob job;
    job.RemoteDir = WithSlashes(rel);
    for (const auto& f : group) job.Bytes += static_cast<int64_t>(platform::GetFileSize(f).value_or(0));
    job.Files = std::move(group);
    planned.push_back({file.Info.FileId, shown, job.Files.size()});
    jobs.push_back(std::move(job));
  }

  bool failed = false;
  std::string lastShown = planned.empty() ? stoppedAt : planned.front().Shown;
  // Every folder is made once, before any session uploads into it. A refusal is left to the
  // change into the folder that follows (it may be there already); a lost connection is not.
  const std::vector<std::string> folders = TFtpUploadPool::FoldersToMake(jobs);
  if (!folders.empty()) {
    try {
      ftp.netFtp.ChangeDirectory(ftp.BaseDir());
      for (const auto& folder : folders) {
        try {
          ftp.netFtp.MakeDirectory(folder);
        } catch (const ftp::ENetProtocolReplyError&) {
          if (ftp.netFtp.OutOfStep()) throw;
        }
      }
    } catch (const std::exception& e) {
      FLastError = e.what();
      Log("   " + FLastError);
      std::string message;
      ftp.ReopenSite(message);  // for the record, which goes back in any case
      return false;
    }
  }

  if (!jobs.empty()) {
    // The other sessions are set up here and opened by their own threads, all at once.
    std::vector<TUploadSession> more(std::min(jobs.size(), static_cast<size_t>(connections)) - 1);
    for (auto& session : more) session.Handler = ftp.PrepareSession(*session.Client);
    TFtpUploadPool pool(std::move(jobs), ftp.BaseDir(), host);
    FUploadPool = &pool;
    struct Unlink {
      TFtpUploadPool*& pool;
      ~Unlink() { pool = nullptr; }
    } unlink{FUploadPool};

    TFtpUploadPool::TEvents events;
    events.Started = [&](size_t job) {
      lblAction.caption = planned[job].Shown;
      Repaint();
    };
    events.Ended = [&](size_t) { StepProgress(ActionProgress); };
    events.Handled = [&](size_t job, const std::string* error) {
      const TPlanned& p = planned[job];
      lastShown = p.Shown;
      if (!error) {
        record.SetAge(p.FileId, FFileAges.Age(p.FileId));
        FileSent(p.Shown, p.Files);
        return;
      }
      // The first failure in the list's order is the run's error.
      if (!failed) FLastError = *error;
      failed = true;
      ++FTally.Failed;
      Log("   " + p.Shown + " - Error Code: " + *error);
    };
    events.Note = [&](const std::string& note) { Log("   " + note); };
    events.Progress = [&](int64_t total, int64_t sent) {
      if (total <= 0) return;
      FtpProgress(0, total);
      FtpProgress(1, sent);
      Repaint();
    };
    events.Turn = [&] { ProcessMessages(); };
    events.Cancelled = [&] {
      if (platform::TerminationRequested()) FCancelled = true;
      return FCancelled;
    };
    pool.Run(ftp.netFtp, std::move(more), events);
    if (!pool.FirstSessionUsable()) {
      std::string message;
      ftp.ReopenSite(message);
    }
  }

  if (failed) return false;
  if (FCancelled) {
    Log("   " + lastShown + " - " + kCancelledByUser);
    FLastError = kCancelledBox;
    return false;
  }
  if (!stoppedWhy.empty()) {
    FailFile(stoppedAt, stoppedWhy);
    return false;
  }
  return true;
}

}  // namespace skelder::deploy
