// The FTP target of the deploy dialog: publishes the fetched folder to one FTP location through
// the FTP module, with the location's record fetched from the server first and stored back last.
#include <string>
#include <vector>

#include "deploy/d_ftp.h"
#include "deploy/deploy_record.h"
#include "deploy/f_deploy.h"
#include "deploy/u_utils.h"
#include "deploy/web_folder_settings.h"
#include "platform/display_text.h"
#include "platform/files.h"

namespace skelder::deploy {

namespace {

constexpr const char* kLineBreakInName = "Refused: an FTP command cannot carry a name holding a line break";
constexpr const char* kHostWithAt = "The FTP location's host name contains \"@\": a password cannot contain \"@\"";

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

}  // namespace

// Sends the changed files; false at the first failure or a cancel, with FLastError set.
bool TfrmDeploy::SendFtpFiles(TdmFtp& ftp, TDeployRecord& record) {
  for (const auto& file : *FFiles) {
    StepProgress(ActionProgress);
    const std::string rel = RelativeFolder(file.Info);
    const std::string shown = platform::EscapeControls(WithSlashes(AddBackslash(rel)) + file.Name);
    lblAction.caption = shown;
    Repaint();
    // A name from the host that would lead out of the base directory is never sent.
    std::string refused = UnsafePathReason(rel, file.Name);
    // A line break would end the command early and turn the rest of the name into a command.
    if (refused.empty() && (rel + file.Name).find_first_of("\r\n") != std::string::npos) refused = kLineBreakInName;
    if (!refused.empty()) {
      FailFile(shown, refused);
      return false;
    }

    std::vector<std::string> group;
    if (!GroupToSend(file, rel, shown, record, group)) return false;
    if (!group.empty()) {
      for (const auto& candidate : group) {
        std::string message;
        if (!ftp.PutFile(candidate, rel, message)) {
          FLastError = message;
          ++FTally.Failed;
          Log("   " + shown + " - Error Code: " + message);
          return false;
        }
      }
      record.SetAge(file.Info.FileId, FFileAges.Age(file.Info.FileId));
      FileSent(shown, group.size());
      if (CancelRequested(shown)) return false;
    } else {
      FileUnchanged();
    }
    StepProgress(ActionProgress);
    ProcessMessages();
  }
  return true;
}

bool TfrmDeploy::DeployToFtp(const std::string& locationLine) {
  TdmFtp& ftp = dmFtp();
  bool result = true;
  TDeployRecord record;

  // Host and path only: user and password never reach the screen or the log. A password typed
  // with an "@" in it ends at that "@" and leaves its rest in the host text; that rest is
  // masked too, and never goes to a name lookup.
  const TFtpLocation site = ParseFtpLocation(locationLine);
  const bool leaked = site.Host.find('@') != std::string::npos;
  const TFtpLocation shown = ParseFtpLocation(platform::MaskFtpPasswords(locationLine));
  BeginLocation(shown.Host + shown.Path);
  if (!ftp.TraceProblem().empty() && !FTraceProblemLogged) {
    Log("   " + ftp.TraceProblem());
    FTraceProblemLogged = true;
  }
  std::string connectionsProblem;
  const int connections = ReadFtpConnections(FNotes, connectionsProblem);
  if (!connectionsProblem.empty()) Log("   " + connectionsProblem);

  std::string message, host, portProblem;
  int32_t port = kFtpDefaultPort;
  const bool portOk = leaked || SplitHostPort(site.Host, host, port, portProblem);
  // Connecting and logging in can take a while on a distant server: say what is going on.
  if (!leaked && portOk) statusText = "Connecting to " + host + ":" + std::to_string(port) + "...";
  const bool tls = IsFtpsLocation(locationLine);
  std::vector<net::TSha256> trusted;
  std::string trustProblem;
  const bool trustOk = !tls || ReadTrustedCertificates(FNotes, trusted, trustProblem);
  ftp.SetPassive(FtpPassiveFor(FNotes, tls));
  ftp.SetTls(tls, std::move(trusted));
  ftp.OnNote = [this](const std::string& note) { Log("   " + note); };
  Repaint();
  if (leaked) {
    FLastError = kHostWithAt;
    Log(std::string("   ") + kHostWithAt);
    result = false;
  } else if (!trustOk) {
    // Refused before anything connects: a list the user meant to trust must not be half read.
    FLastError = platform::EscapeControls(trustProblem);
    Log("   " + trustProblem);
    result = false;
  } else if (!portOk) {
    // Refused before any name lookup or connection.
    FLastError = platform::EscapeControls(portProblem);
    Log("   " + portProblem);
    result = false;
  } else if (!ftp.OpenSite(
                 host, site.User, site.Password, site.Path, message,
                 [this](int code, int64_t value) { FtpProgress(code, value); }, port)) {
    Log("   " + message);
    FLastError = message;
    result = false;
    // A refused base directory leaves the session logged in; it is of no further use.
    ftp.CloseSite();
  } else {
    SiteScope session(ftp);
    statusText = std::string("Reading the deployment record ") + kDeployRecordName + "...";
    Repaint();
    TdmFtp::TFetch fetch;
    std::string recordProblem;
    {
      ScratchFile fetched(MakeTempFileName());
      // Only a server that says it has no record means an empty one (every file goes). A fetch
      // that broke off must not be taken for that: the empty record stored over it would lose
      // what the server's record knew.
      fetch = ftp.FetchFile(fetched.path(), kDeployRecordName, kMaxRecordBytes, message);
      if (fetch == TdmFtp::TFetch::Fetched) record = TDeployRecord::ReadFile(fetched.path(), &recordProblem);
    }
    // A record too large to be one is read as empty, and the log says why.
    if (!recordProblem.empty()) Log("   " + recordProblem);
    if (fetch == TdmFtp::TFetch::Failed) {
      FLastError = "Could not read the deployment record " + std::string(kDeployRecordName) + " from '" + shown.Host +
                   shown.Path + "': " + message;
      Log("   " + FLastError);
      statusText.clear();
      FileProgress.visible = false;
      StepProgress(MainProgress);
      return false;
    }

    statusText.clear();
    result = connections > 1 ? SendFtpFilesParallel(ftp, record, connections, host) : SendFtpFiles(ftp, record);
    statusText = std::string("Storing the deployment record ") + kDeployRecordName + "...";
    Repaint();

    // The record goes back whatever the loop's outcome, so files sent before a failure are not
    // sent again next time.
    ScratchFile local(AddBackslash(FTempDir) + kDeployRecordName);
    record.WriteFile(local.path());
    // After a timeout or a lost connection the old session may still owe a reply; the record
    // goes over a fresh one.
    bool stored = ftp.SessionUsable() || ftp.ReopenSite(message);
    if (stored) stored = ftp.PutFile(local.path(), std::string(), message);
    if (!stored && result) {
      // Without its record the location would look deployed while the next run cannot know
      // what it holds.
      FLastError = message;
      Log(std::string("   ") + kDeployRecordName + " - Error Code: " + message);
      result = false;
    }
  }

  statusText.clear();
  FileProgress.visible = false;
  StepProgress(MainProgress);
  return result;
}

}  // namespace skelder::deploy
