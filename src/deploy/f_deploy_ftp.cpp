// The FTP target of the deploy dialog: publishes the fetched folder to one FTP location through
// the FTP module, with the location's record fetched from the server first and stored back last.
#include <string>
#include <vector>

#include "deploy/d_ftp.h"
#include "deploy/deploy_record.h"
#include "deploy/file_group.h"
#include "deploy/f_deploy.h"
#include "deploy/u_utils.h"
#include "deploy/web_folder_settings.h"
#include "platform/files.h"

namespace skelder::deploy {

namespace {

constexpr const char* kHostWithAt =
    "The FTP location's host name contains \"@\": a password cannot contain \"@\"";

std::string WithSlashes(std::string text) {
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

// Deletes a local scratch file on every way out of a scope.
class ScratchFile {
 public:
  explicit ScratchFile(std::string path) : path_(std::move(path)) {}
  ~ScratchFile() { platform::RemoveFile(path_); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The session is closed on every way out, an error escaping the record handling included.
class SiteScope {
 public:
  explicit SiteScope(TdmFtp& ftp) : ftp_(ftp) {}
  ~SiteScope() { ftp_.CloseSite(); }
  SiteScope(const SiteScope&) = delete;
  SiteScope& operator=(const SiteScope&) = delete;

 private:
  TdmFtp& ftp_;
};

// Sends the changed files; false at the first failure or a cancel, with FLastError set.
bool SendFiles(TfrmDeploy& form, TdmFtp& ftp, TDeployRecord& record) {
  for (const auto& file : *form.FFiles) {
    form.StepProgress(form.ActionProgress);
    const std::string rel = form.RelativeFolder(file.Info);
    const std::string shown = WithSlashes(AddBackslash(rel)) + file.Name;
    form.lblAction.caption = shown;
    form.Repaint();
    // A name from the host that would lead out of the base directory is never sent.
    const std::string refused = UnsafePathReason(rel, file.Name);
    if (!refused.empty()) {
      form.FailFile(shown, refused);
      return false;
    }

    const int32_t age = form.FFileAges.Age(file.Info.FileId);
    if (ShouldSend(record, file.Info.FileId, age)) {
      const std::string source = AddBackslash(form.FTempDir + rel) + file.Name;
      for (const auto& candidate : FileGroupCandidates(source)) {
        std::string message;
        if (!ftp.PutFile(candidate, rel, message)) {
          form.FLastError = message;
          form.Log("   " + shown + " - Error Code: " + message);
          return false;
        }
      }
      record.SetAge(file.Info.FileId, age);
      form.Log("   " + shown);
      if (form.CancelRequested(shown)) return false;
    }
    form.StepProgress(form.ActionProgress);
    form.ProcessMessages();
  }
  return true;
}

}  // namespace

bool DeployToFtpLocation(TfrmDeploy& form, const std::string& locationLine) {
  TdmFtp& ftp = dmFtp();
  bool result = true;
  TDeployRecord record;

  // Host and path only: user and password never reach the screen or the log. A password typed
  // with an "@" in it ends at that "@" and leaves its rest in the host text; that rest is
  // masked too, and never goes to a name lookup.
  const TFtpLocation site = ParseFtpLocation(locationLine);
  const size_t leaked = site.Host.rfind('@');
  const std::string shownHost = leaked == std::string::npos ? site.Host : "***" + site.Host.substr(leaked);
  const std::string heading = "Deploying to '" + shownHost + site.Path + "'...";
  form.lblMain.caption = heading;
  form.StepProgress(form.MainProgress);
  form.Log("");
  form.Log("");
  form.Log(heading);
  form.Log("");
  form.ActionProgress.position = 0;
  form.Repaint();

  std::string message;
  if (leaked != std::string::npos) {
    form.FLastError = kHostWithAt;
    form.Log(std::string("   ") + kHostWithAt);
    result = false;
  } else if (!ftp.OpenSite(site.Host, site.User, site.Password, site.Path, message,
                           [&form](int code, int64_t value) { form.FtpProgress(code, value); })) {
    form.Log("   " + message);
    form.FLastError = message;
    result = false;
    // A refused base directory leaves the session logged in; it is of no further use.
    ftp.CloseSite();
  } else {
    SiteScope session(ftp);
    {
      ScratchFile fetched(MakeTempFileName());
      std::string ignored;
      // No record on the server yet (or none readable) leaves the record empty: every file goes.
      if (ftp.GetFile(fetched.path(), kDeployRecordName, ignored)) record = TDeployRecord::ReadFile(fetched.path());
    }

    result = SendFiles(form, ftp, record);

    // The record goes back whatever the loop's outcome, so files sent before a failure are not
    // sent again next time.
    ScratchFile local(AddBackslash(form.FTempDir) + kDeployRecordName);
    record.WriteFile(local.path());
    // After a timeout or a lost connection the old session may still owe a reply; the record
    // goes over a fresh one.
    bool stored = ftp.SessionUsable() || ftp.ReopenSite(message);
    if (stored) stored = ftp.PutFile(local.path(), std::string(), message);
    if (!stored && result) {
      // Without its record the location would look deployed while the next run cannot know
      // what it holds.
      form.FLastError = message;
      form.Log(std::string("   ") + kDeployRecordName + " - Error Code: " + message);
      result = false;
    }
  }

  form.FileProgress.visible = false;
  form.StepProgress(form.MainProgress);
  return result;
}

namespace {
// The dialog reaches this target through its FTP seam.
const bool g_registered = (SetFtpTarget(&DeployToFtpLocation), true);
}  // namespace

}  // namespace skelder::deploy
