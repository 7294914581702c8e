#include "deploy/f_deploy.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <memory>

#include "deploy/deploy_dialog_seam.h"
#include "deploy/file_group.h"
#include "deploy/ftp_upload_pool.h"
#include "deploy/u_utils.h"
#include "deploy/web_folder_settings.h"
#include "host/xr_direct_intf.h"
#include "platform/clock.h"
#include "platform/display_text.h"
#include "platform/exception.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/termination.h"
#include "platform/toolkit.h"

namespace skelder::deploy {

using platform::Component;
using platform::ComponentKind;
using platform::CurrentToolkit;

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

Component& AddLabel(platform::Form& form, const char* name, int page, int left, int top, const std::string& caption,
                    bool bold = false) {
  Component& c = form.Add(name, ComponentKind::Label);
  c.page = page;
  c.left = left;
  c.top = top;
  c.caption = caption;
  c.bold = bold;
  return c;
}

Component& AddControl(platform::Form& form, const char* name, ComponentKind kind, int page, int left, int top,
                      int width, int height) {
  Component& c = form.Add(name, kind);
  c.page = page;
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
  return c;
}

Component& AddButton(platform::Form& form, const char* name, int page, int left, int top, const char* caption) {
  Component& c = AddControl(form, name, ComponentKind::Button, page, left, top, 75, 25);
  c.caption = caption;
  return c;
}

Component& AddNotebook(platform::Form& form) {
  Component& c = AddControl(form, "nbMain", ComponentKind::Notebook, -1, 0, 0, 421, 195);
  c.lines = {"pgMain", "pgDeploy"};
  c.itemIndex = 0;
  return c;
}

Component& AddMemo(platform::Form& form) {
  Component& c = AddControl(form, "memoLocations", ComponentKind::Memo, 0, 35, 83, 372, 57);
  c.readOnly = true;
  c.border = false;  // on the dialog's colour, like the labels around it
  return c;
}

// The check-out request of one FetchFiles, released on every way out.
struct RequestDeleter {
  void operator()(host::TCheckOutRequest* r) const { host::FreeCheckOutRequest(r); }
};

}  // namespace

std::string UnsafePathReason(const std::string& relativeFolder, const std::string& fileName) {
  if (fileName.empty() || fileName == "." || fileName == ".." || fileName.find_first_of("/\\") != std::string::npos ||
      fileName.find('\0') != std::string::npos)
    return kUnsafeFileName;
  if (!relativeFolder.empty()) {
    if (IsSeparator(relativeFolder[0]) || (relativeFolder.size() >= 2 && relativeFolder[1] == ':') ||
        relativeFolder.find('\0') != std::string::npos)
      return kUnsafeFolder;
    size_t start = 0;
    while (start <= relativeFolder.size()) {
      size_t end = relativeFolder.find_first_of("/\\", start);
      if (end == std::string::npos) end = relativeFolder.size();
      if (relativeFolder.compare(start, end - start, "..") == 0) return kUnsafeFolder;
      start = end + 1;
    }
  }
  return {};
}

bool IsCheckOutFolderName(const std::string& name) {
  constexpr size_t kHexStart = 3, kSuffix = 7;  // "TTS", ".Deploy"
  if (name.size() <= kHexStart + kSuffix || name.size() > kHexStart + 8 + kSuffix) return false;
  if (name.compare(0, kHexStart, "TTS") != 0 || name.compare(name.size() - kSuffix, kSuffix, ".Deploy") != 0)
    return false;
  for (size_t i = kHexStart; i < name.size() - kSuffix; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

TfrmDeploy::TfrmDeploy()
    : Form("frmDeploy", "Skelder"),
      nbMain(AddNotebook(*this)),
      Label1(AddLabel(*this, "Label1", 0, 13, 14, "The files contained in:", true)),
      lblXRFolder(AddLabel(*this, "lblXRFolder", 0, 35, 38, "")),
      Label2(AddLabel(*this, "Label2", 0, 13, 63, "will be deployed to the following locations:", true)),
      memoLocations(AddMemo(*this)),
      Button1(AddButton(*this, "Button1", 0, 257, 158, "Cancel")),
      btnOK(AddButton(*this, "btnOK", 0, 337, 158, "&Continue")),
      btnCancel(AddButton(*this, "btnCancel", 1, 257, 162, "Cancel")),
      btnDone(AddButton(*this, "btnDone", 1, 337, 162, "&Done")),
      MainProgress(AddControl(*this, "MainProgress", ComponentKind::ProgressBar, 1, 15, 32, 387, 25)),
      lblMain(AddLabel(*this, "lblMain", 1, 15, 14, "")),
      lblAction(AddLabel(*this, "lblAction", 1, 15, 62, "")),
      ActionProgress(AddControl(*this, "ActionProgress", ComponentKind::ProgressBar, 1, 15, 80, 387, 22)),
      FileProgress(AddControl(*this, "FileProgress", ComponentKind::ProgressBar, 1, 15, 108, 387, 10)),
      lblEnd(AddLabel(*this, "lblEnd", 1, 15, 125, kPleaseWait)),
      lblEndAdd(AddLabel(*this, "lblEndAdd", 1, 15, 141, kPleaseWait)) {
  clientWidth = 421;
  clientHeight = 195;
  fontName = "MS Sans Serif";
  fontSize = 8;
  activePage = 0;
  // No close box: the dialog closes through its buttons only.
  borderStyle = platform::BorderStyle::Dialog;
  borderIcons = false;
  centred = true;
  // These show folder and file names, in which "&" is a character, not an access key.
  lblXRFolder.accelChar = false;
  lblMain.accelChar = false;
  lblAction.accelChar = false;

  lblAction.transient = true;  // the file in hand; a printed run reports what was sent instead
  // Names and counts for presentations that print them beside the bars.
  auto counts = [](Component& bar, const char* label, platform::ProgressUnit unit, int stepsPerItem) {
    bar.label = label;
    bar.unit = unit;
    bar.stepsPerItem = stepsPerItem;
  };
  counts(MainProgress, "Stages", platform::ProgressUnit::Items, 2);
  counts(ActionProgress, "Files", platform::ProgressUnit::Items, 2);
  counts(FileProgress, "Transfer", platform::ProgressUnit::Bytes, 1);
  Button1.isCancel = true;
  Button1.modalResult = platform::mrCancel;
  btnOK.onClick = [this] { btnOKClick(); };
  btnOK.isDefault = true;  // it has the focus on the confirmation page, so Enter means Continue
  btnCancel.isCancel = true;
  btnCancel.onClick = [this] { btnCancelClick(); };
  btnDone.enabled = false;
  btnDone.modalResult = platform::mrOk;
  FileProgress.visible = false;

  onShow = [this] { FormShow(); };
  FormCreate();
}

TfrmDeploy::~TfrmDeploy() { FormDestroy(); }

void TfrmDeploy::FormCreate() {
  FFileAges = TCurrentAges();
  FLogFile = LogFileName();
}

void TfrmDeploy::FormDestroy() { FFileAges = TCurrentAges(); }

void TfrmDeploy::FormShow() { focused = btnOK.name; }

void TfrmDeploy::Setup(const std::string& folderCaption, const std::string& deployTo, const TFileList& files,
                       const TFolderList& folders, const std::string& notes) {
  FFolderCaption = folderCaption;
  FLocationsText = deployTo;
  FNotes = notes;
  FFiles = &files;
  FFolders = &folders;
  folderIndex_ = FolderIndex(folders);
  FLogFile = LogFileName();
  lblXRFolder.caption = folderCaption;
  // The memo holds the locations as written (the Windows dialog shows them so); a backend that
  // prints them masks FTP passwords itself (the terminal shows "****").
  memoLocations.lines = SplitLocations(deployTo);
  activePage = 0;
  nbMain.itemIndex = 0;
  FCancelled = false;
  FPaused = false;
}

void TfrmDeploy::ShowDeployDialog(const std::string& folderCaption, const std::string& deployTo, const TFileList& files,
                                  const TFolderList& folders, const std::string& notes) {
  ResetLastDeployOutcome();
  // SIGTERM or SIGHUP during the run cancel it, so that it cleans up; the signal goes on when
  // the dialog is gone.
  platform::TerminationGuard termination;
  auto form = std::make_unique<TfrmDeploy>();
  form->Setup(folderCaption, deployTo, files, folders, notes);
  // Also when an error escapes the dialog, the host learns how far the run got.
  struct Report {
    TfrmDeploy& form;
    ~Report() { SetLastDeployOutcome(form.FOutcome); }
  } report{*form};
  CurrentToolkit().ShowModal(*form);
}

std::string TfrmDeploy::RelativeFolder(const TFileInfo& info) const {
  if (FFolders == nullptr) return {};
  long i = folderIndex_.Find(info.FolderId);
  return i < 0 ? std::string() : (*FFolders)[static_cast<size_t>(i)].Path;
}

void TfrmDeploy::Repaint() { CurrentToolkit().Repaint(*this); }
void TfrmDeploy::ProcessMessages() { CurrentToolkit().ProcessMessages(); }

void TfrmDeploy::StepProgress(Component& bar) {
  bar.Step();
  Repaint();
}

// Server texts may hold control characters; their own line ends stay (a reply of several lines
// is logged as such). Names arrive escaped whole: one CR LF of theirs would forge a line.
void TfrmDeploy::Log(const std::string& text) {
  const std::string shown = platform::ShownText(text);
  FLog.Append(FLogFile, shown);
  if (FTally.Open && !shown.empty()) CurrentToolkit().Report(shown);
}

void TfrmDeploy::FileSent(const std::string& shownName, size_t files) {
  Log("   " + shownName);
  FTally.Sent += files;
}

void TfrmDeploy::EndLocation() {
  if (!FTally.Open) return;
  FTally.Open = false;
  CurrentToolkit().Report("   " + std::to_string(FTally.Sent) + " sent, " + std::to_string(FTally.Unchanged) +
                          " unchanged, " + std::to_string(FTally.Failed) + " failed");
}

void TfrmDeploy::SkipLocation(const std::string& why) {
  Log("");
  Log("");
  Log(why);
  CurrentToolkit().Report(platform::ShownText(why));
  StepProgress(MainProgress);
  StepProgress(MainProgress);
}

bool TfrmDeploy::BeginFile(const TFileEntry& file, std::string& rel, std::string& shown) {
  StepProgress(ActionProgress);
  rel = RelativeFolder(file.Info);
  shown = platform::EscapeControls(AddBackslash(rel) + file.Name);
  lblAction.caption = shown;
  Repaint();
  std::string refused = UnsafePathReason(rel, file.Name);
  if (refused.empty()) return true;
  FailFile(shown, refused);
  return false;
}

void TfrmDeploy::FailFile(const std::string& shownName, const std::string& message) {
  ++FTally.Failed;
  Log("   " + shownName + " - " + message);
  FLastError = message;
}

bool TfrmDeploy::CancelRequested(const std::string& shownName) {
  while (FPaused) ProcessMessages();
  if (platform::TerminationRequested()) FCancelled = true;
  if (!FCancelled) return false;
  Log("   " + shownName + " - " + kCancelledByUser);
  FLastError = kCancelledBox;
  return true;
}

void TfrmDeploy::ShowError(const std::string& text) {
  CurrentToolkit().ShowMessageBox(platform::EscapeControlsKeepLineEnds(text), caption, platform::MessageIcon::Error,
                                  platform::MessageButtons::Ok);
}

void TfrmDeploy::btnOKClick() {
  MainProgress.max = 2 * (static_cast<int>(memoLocations.lines.size()) + 1);
  ActionProgress.max = 2 * (FFiles ? static_cast<int>(FFiles->size()) : 0);
  lblMain.caption.clear();
  activePage = 1;
  nbMain.itemIndex = 1;
  focused = btnCancel.name;
  ProcessMessages();
  RunDeployment();
}

void TfrmDeploy::btnCancelClick() {
  FPaused = true;
  // Uploads running beside the dialog take no new file while the question is open; after a Yes
  // they take none at all.
  if (FUploadPool) FUploadPool->Hold(true);
  struct Unpause {
    TfrmDeploy& form;
    ~Unpause() {
      form.FPaused = false;
      if (!form.FUploadPool) return;
      if (form.FCancelled) form.FUploadPool->Stop();
      form.FUploadPool->Hold(false);
    }
  } unpause{*this};
  auto answer = CurrentToolkit().ShowMessageBox(kCancelQuestion, caption, platform::MessageIcon::Question,
                                                platform::MessageButtons::YesNo);
  if (answer == platform::MessageAnswer::Yes) FCancelled = true;
}

void TfrmDeploy::FtpProgress(int code, int64_t value) {
  if (!FileProgress.visible) FileProgress.visible = true;
  switch (code) {
    case 0:
      // Transfers beyond the bar's range are shown scaled down.
      fileProgressDivisor_ = 1;
      while (value / fileProgressDivisor_ > INT_MAX) fileProgressDivisor_ *= 2;
      FileProgress.bytesPerStep = fileProgressDivisor_;
      FileProgress.max = static_cast<int>(value / fileProgressDivisor_);
      FileProgress.position = 0;
      break;
    case 1:
      FileProgress.position = static_cast<int>(std::min<int64_t>(value / fileProgressDivisor_, INT_MAX));
      break;
    case 2:
      FileProgress.position = FileProgress.max;
      break;
    default:
      break;
  }
}

void TfrmDeploy::MakeTempDir() {
  RemoveAbandonedCheckOuts();
  std::string candidate;
  for (int attempt = 0;; ++attempt) {
    std::string tempFile = MakeTempFileName();
    candidate = platform::ChangeFileExt(tempFile, ".Deploy");
    platform::RemoveFile(tempFile, platform::Lookup::Exact);
    if (platform::GetEntryKind(candidate) != platform::EntryKind::Missing) continue;
    if (platform::CreateLockedDirectory(candidate, tempDirLock_)) break;
    // Taken by another run in the meantime: try another name; anything else is a failure.
    if (attempt >= 100 || platform::GetEntryKind(candidate) == platform::EntryKind::Missing)
      throw Exception("Could not create the temporary folder '" + candidate + "'");
  }
  FTempDir = AddBackslash(candidate);
}

void TfrmDeploy::RemoveAbandonedCheckOuts() {
  const std::string dir = platform::TempDirectory();
  for (const std::string& entry : platform::DirectoryEntries(dir))
    if (IsCheckOutFolderName(entry)) platform::DeleteTreeIfAbandoned(dir + entry);
}

void TfrmDeploy::CleanUp() {
  BusyScope busy;
  try {
    platform::SleepMs(1000);
    if (FTempDir.empty()) return;  // never made: nothing of ours to delete
    std::string dir = FTempDir.substr(0, FTempDir.size() - 1);
    platform::DeleteTree(dir);
    platform::SleepMs(1000);
    if (platform::DirectoryExists(dir, platform::Lookup::Exact)) {
      platform::SleepMs(1000);
      platform::DeleteTree(dir);
    }
  } catch (...) {
    // Clean-up failures are not reported.
  }
  // Whatever is left now is a leftover that a later run may remove.
  tempDirLock_.Release();
}

void TfrmDeploy::SetOutcome(bool success) {
  platform::Color color = success ? platform::kGreen : platform::kRed;
  lblEnd.fontColor = color;
  lblEndAdd.fontColor = color;
  lblEnd.caption = success ? kDeployedOk : kDeployedWithErrors;
  lblEndAdd.caption = kSeeLog;
  FOutcome = success ? TDeployOutcome::Succeeded : FCancelled ? TDeployOutcome::Cancelled : TDeployOutcome::Failed;
}

void TfrmDeploy::RunDeployment() {
  try {
    lblEndAdd.caption.clear();
    FLog.Close();
    platform::RemoveFile(FLogFile);
    FTempDir.clear();
    MakeTempDir();
    FLastError.clear();
    MainProgress.position = 0;

    bool ok = FetchFiles();
    if (!ok) {
      ShowError(FLastError);
    } else {
      const std::vector<std::string> locations = SplitLocations(FLocationsText);
      int deployed = 0;
      for (const auto& line : locations) {
        if (IsFtpLocation(line)) continue;
        if (line.empty() || !IsDirectoryLocation(line)) {
          // An empty line would name the root of the file system; a line with "ftp://" inside
          // is no location of either kind. Neither is deployed, and the log says so.
          SkipLocation(line.empty() ? std::string(kSkippedEmptyLocation)
                                    : "Skipped the location line '" + line + "': " + kNeitherKind);
          continue;
        }
        const std::string problem = DirectoryLocationProblem(line);
        if (!problem.empty()) {
          // Refused before anything is written: a relative path or another scheme would put
          // the site somewhere the user never named.
          BeginLocation(AddBackslash(line));
          Log("   " + problem);
          EndLocation();
          FLastError = platform::EscapeControls(problem);
          StepProgress(MainProgress);
          ok = false;
          break;
        }
        const bool deployedHere = DeployToFolder(line);
        EndLocation();
        if (!deployedHere) {
          ok = false;
          break;
        }
        ++deployed;
      }
      if (ok) {
        for (const auto& line : locations) {
          if (!IsFtpLocation(line)) continue;
          const bool deployedHere = DeployToFtp(line);
          EndLocation();
          if (!deployedHere) {
            ok = false;
            break;
          }
          ++deployed;
        }
      }
      if (ok && deployed == 0 && !locations.empty()) {
        // Nothing was published anywhere: that is no success, whatever the lines were.
        FLastError = kNoLocationDeployed;
        Log("");
        Log("");
        Log(FLastError);
        ok = false;
      }
      if (!ok) ShowError(FLastError);
    }
    SetOutcome(ok);
  } catch (const std::exception& e) {
    // A stage that could not finish at all: the run ends here, reported like any failure.
    Log(std::string("   ") + e.what());
    ShowError(e.what());
    SetOutcome(false);
  }
  Repaint();
  CleanUp();
  FLog.Close();  // the log is whole now; nothing of the run holds it open

  btnCancel.isCancel = false;
  btnCancel.enabled = false;
  btnDone.enabled = true;
  btnDone.isCancel = true;
  btnDone.isDefault = true;
  focused = btnDone.name;
  Repaint();
}

bool TfrmDeploy::FetchFiles() {
  bool result = true;
  FFileAges = TCurrentAges();
  lblMain.caption = kGettingFiles;
  StepProgress(MainProgress);
  Log(kGettingFiles);
  Log("");
  ActionProgress.position = 0;

  std::unique_ptr<host::TCheckOutRequest, RequestDeleter> request(host::NewCheckOutRequest());
  request->Flags |= 1u;

  for (const auto& file : *FFiles) {
    std::string rel, shown;
    if (!BeginFile(file, rel, shown)) {
      result = false;
      break;
    }
    std::string targetDir = FTempDir + rel;
    if (targetDir.size() >= static_cast<size_t>(host::kCheckOutTargetDirSize)) {
      FailFile(shown, kPathTooLong);
      result = false;
      break;
    }
    std::memcpy(request->TargetDir, targetDir.c_str(), targetDir.size() + 1);
    int32_t output = 0;
    int32_t checkedOut = host::VcsCheckOutFile(file.Info.FileId, output, request.get());
    StepProgress(ActionProgress);
    if (checkedOut != host::kStatusOk) {
      std::string message;
      host::VcsErrorString(checkedOut, message);
      FailFile(shown, message);
      result = false;
      break;
    }
    FFileAges.Add(file.Info.FileId, platform::FileAge(AddBackslash(targetDir) + file.Name, platform::Lookup::Exact));
    Log("   " + shown);
    if (CancelRequested(shown)) {
      result = false;
      break;
    }
    ProcessMessages();
  }
  request.reset();
  StepProgress(MainProgress);
  return result;
}

bool TfrmDeploy::GroupToSend(const TFileEntry& file, const std::string& rel, const std::string& shown,
                             TDeployRecord& record, std::vector<std::string>& group) {
  group.clear();
  if (!ShouldSend(record, file.Info.FileId, FFileAges.Age(file.Info.FileId))) return true;
  std::string missing;
  group = FileGroupCandidates(AddBackslash(FTempDir + rel) + file.Name, &missing);
  if (missing.empty()) return true;
  group.clear();
  FailFile(shown, missing);
  return false;
}

void TfrmDeploy::BeginLocation(const std::string& target) {
  // The target is shown as given; a password in it (a line refused before it is parsed) is not.
  const std::string heading = platform::MaskFtpPasswords("Deploying to '" + target + "'...");
  lblMain.caption = platform::EscapeControls(heading);
  StepProgress(MainProgress);
  EndLocation();
  Log("");
  Log("");
  Log(heading);
  Log("");
  // From here the location's lines are reported too; lblMain shows the heading already.
  FTally = TTally{true};
  ActionProgress.position = 0;
  Repaint();
}

}  // namespace skelder::deploy
