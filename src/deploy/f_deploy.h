#pragma once
// The deploy dialog: a confirmation page, then the run that checks every file out into a fresh
// temporary folder, publishes it to each directory location and then to each FTP location,
// keeps the log, shows progress on three bars, lets the user cancel, reports the outcome and
// removes the temporary folder. It stays open until the user closes it with Done.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "deploy/deploy_log.h"
#include "deploy/deploy_outcome.h"
#include "deploy/deploy_record.h"
#include "deploy/file_lists.h"
#include "deploy/u_utils.h"
#include "platform/files.h"
#include "platform/widgets.h"

namespace skelder::deploy {

class TfrmDeploy;
class TdmFtp;
class TFtpUploadPool;

// Texts of the run, as the user and the log see them.
inline constexpr const char* kGettingFiles = "Getting files from Ardmoor...";
inline constexpr const char* kPleaseWait = "Publishing files. Please wait...";
inline constexpr const char* kDeployedOk = "The folder deployed successfully.";
inline constexpr const char* kDeployedWithErrors = "One or more errors occurred while deploying.";
inline constexpr const char* kSeeLog = "See the file 'Skelder.log' for more information";
inline constexpr const char* kCancelledByUser = "Cancelled by user";  // log lines
inline constexpr const char* kCancelledBox = "Cancelled by User";     // error box
inline constexpr const char* kCancelQuestion = "Are you sure you want to cancell this deployment?";
inline constexpr const char* kCannotCreateFolder = "Could not create the destination folder";
inline constexpr const char* kSkippedEmptyLocation =
    "Skipped an empty location line: the root of the file system is never deployed to";
inline constexpr const char* kNeitherKind =
    "it holds \"ftp://\" but does not begin with it, so it is neither a folder nor an FTP location";
inline constexpr const char* kNoLocationDeployed = "None of the folder's deployment locations could be deployed to";
inline constexpr const char* kUnsafeFileName = "Refused: the file name is not a plain name inside its folder";
inline constexpr const char* kUnsafeFolder = "Refused: the folder path leads outside the deployed folder";
inline constexpr const char* kPathTooLong = "Refused: the check-out folder path is too long";

// Why a file name or relative folder from the host must not be used as a path below a location
// or the temporary folder: empty when it is safe.
std::string UnsafePathReason(const std::string& relativeFolder, const std::string& fileName);

// A directory location is held by one deployment at a time; another waits this long for it.
inline constexpr uint32_t kLocationLockWaitMs = 60000;
inline constexpr uint32_t kLocationLockPollMs = 250;
// The check-out folder of a run: "TTS", hexadecimal digits, ".Deploy".
bool IsCheckOutFolderName(const std::string& name);

class TfrmDeploy : public platform::Form {
 public:
  TfrmDeploy();
  ~TfrmDeploy() override;

  // Creates the dialog for the command's lists, runs it modally and releases it.
  static void ShowDeployDialog(const std::string& folderCaption, const std::string& deployTo, const TFileList& files,
                               const TFolderList& folders, const std::string& notes = {});

  // Components, in declaration order.
  platform::Component& nbMain;
  platform::Component& Label1;
  platform::Component& lblXRFolder;
  platform::Component& Label2;
  platform::Component& memoLocations;
  platform::Component& Button1;
  platform::Component& btnOK;
  platform::Component& btnCancel;
  platform::Component& btnDone;
  platform::Component& MainProgress;
  platform::Component& lblMain;
  platform::Component& lblAction;
  platform::Component& ActionProgress;
  platform::Component& FileProgress;
  platform::Component& lblEnd;
  platform::Component& lblEndAdd;

  // What a run leaves to be seen: how it ended, its error, its check-out folder (empty when none
  // was made), whether Cancel was asked for and a cancel question is open, the log it writes,
  // and the lists it works from.
  TDeployOutcome Outcome() const { return FOutcome; }
  const std::string& LastError() const { return FLastError; }
  const std::string& TempDir() const { return FTempDir; }
  bool Cancelled() const { return FCancelled; }
  bool Paused() const { return FPaused; }
  const std::string& LogFile() const { return FLogFile; }
  const TFileList* Files() const { return FFiles; }
  const TFolderList* Folders() const { return FFolders; }
  // The log the run writes, in place of the one beside the add-in.
  void SetLogFile(const std::string& path) { FLogFile = path; }
  // For a caller that fetched the files itself: the folder they are in and their ages, so a
  // target can be run alone.
  void UseFetchedFiles(const std::string& tempDir, TCurrentAges ages) {
    FTempDir = tempDir;
    FFileAges = std::move(ages);
  }

  // Stores the command's values and fills the confirmation page.
  void Setup(const std::string& folderCaption, const std::string& deployTo, const TFileList& files,
             const TFolderList& folders, const std::string& notes = {});

  void FormCreate();
  void FormDestroy();
  void FormShow();
  void btnOKClick();
  void btnCancelClick();
  void FtpProgress(int code, int64_t value);
  void RunDeployment();
  bool FetchFiles();
  bool DeployToFolder(const std::string& locationLine);
  bool DeployToFtp(const std::string& locationLine);

  // Shared by the targets: the relative folder of a file (first folder entry with its id),
  // a progress step with its repaint, a repaint, a turn of the message loop, a log line, the
  // wait for an open cancel question and the cancel check after a file.
  std::string RelativeFolder(const TFileInfo& info) const;
  void StepProgress(platform::Component& bar);
  void Repaint();
  void ProcessMessages();
  void Log(const std::string& text);
  bool CancelRequested(const std::string& shownName);
  // The heading of a location the run starts on: "Deploying to '<target>'..." in lblMain and
  // between blank lines in the log, a step of MainProgress, ActionProgress back at 0.
  void BeginLocation(const std::string& target);
  // A location line that is not deployed: two empty lines and the reason in the log, and the
  // location's two progress steps.
  void SkipLocation(const std::string& why);
  // Starts one file of a stage: steps ActionProgress, shows the file and refuses a name that
  // would lead outside the folder (logged, FLastError set, false).
  bool BeginFile(const TFileEntry& file, std::string& relativeFolder, std::string& shownName);
  // What a file takes to the location: nothing when the record says it has not changed, else its
  // file group (the file itself among them). False, with the file failed, when its checked-out
  // copy is missing.
  bool GroupToSend(const TFileEntry& file, const std::string& rel, const std::string& shown, TDeployRecord& record,
                   std::vector<std::string>& group);
  // The line "   <shown name> - <message>" and the message as the run's error.
  void FailFile(const std::string& shownName, const std::string& message);
  // A file's group went to the location ("   <shown name>" in the log), or nothing had to go.
  void FileSent(const std::string& shownName, size_t files);
  void FileUnchanged() { ++FTally.Unchanged; }
  // After a location: "   N sent, M unchanged, K failed" to the toolkit's report (never the log).
  void EndLocation();

 private:
  void MakeTempDir();
  // Check-out folders of runs that were killed; those of runs still going are locked.
  void RemoveAbandonedCheckOuts();
  // Takes the location's lock, waiting for another deployment that holds it; false (logged,
  // FLastError set) when it stays held or the user cancels.
  bool LockLocation(const std::string& location, const platform::Folder& site);
  void CleanUp();
  void ShowError(const std::string& text);
  void SetOutcome(bool success);

  bool SendFtpFiles(TdmFtp& ftp, TDeployRecord& record);  // the FTP target's files
  // The same over `connections` sessions at once (FtpConnections above 1).
  bool SendFtpFilesParallel(TdmFtp& ftp, TDeployRecord& record, int connections, const std::string& host);

  // Fields.
  std::string FLocationsText;
  std::string FNotes;                     // the folder's notes, for the settings beside DeployTo
  const TFolderList* FFolders = nullptr;  // borrowed
  const TFileList* FFiles = nullptr;      // borrowed
  std::string FFolderCaption;
  bool FCancelled = false;
  bool FPaused = false;
  std::string FTempDir;
  std::string FLogFile;
  TLogWriter FLog;  // open while a run writes its log
  std::string FLastError;
  TCurrentAges FFileAges;
  TDeployOutcome FOutcome = TDeployOutcome::NotRun;
  FolderIndex folderIndex_;
  platform::DirectoryLock tempDirLock_;  // held while FTempDir exists: marks it as in use
  int64_t fileProgressDivisor_ = 1;
  bool FTraceProblemLogged = false;       // a trace that could not be started is logged once a run
  TFtpUploadPool* FUploadPool = nullptr;  // while uploads run beside the dialog
  // What the location in hand got; its log lines go to the toolkit's report as well.
  struct TTally {
    bool Open = false;
    size_t Sent = 0, Unchanged = 0, Failed = 0;
  } FTally;
};

}  // namespace skelder::deploy
