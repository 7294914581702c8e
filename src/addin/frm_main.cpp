#include "addin/frm_main.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "addin/dlg_ftp_details.h"
#include "deploy/web_folder_settings.h"
#include "host/xr_direct_intf.h"
#include "host/xr_vcs_types.h"
#include "platform/display_text.h"
#include "platform/files.h"
#include "platform/toolkit.h"
#include "ui/form_layout.h"
#include "ui/frm_browse_folder.h"

namespace skelder::addin {

using platform::ComponentKind;
using ui::SetBounds;

namespace {

// Only DlgAddinRelease destroys the page, never the library's unloading.
std::unique_ptr<TdlgWebFolder>& Page() {
  static auto* page = new std::unique_ptr<TdlgWebFolder>;
  return *page;
}

// The page's own window and the dialog it belongs to.
TdlgWebFolder* PageFor(int32_t dialogId, uint32_t window) {
  TdlgWebFolder* page = Page().get();
  if (dialogId != kFolderPropertiesDialog || !page || window == 0) return nullptr;
  return page->Handle() == window ? page : nullptr;
}

constexpr int kSpacerSide = 11;
constexpr int kSpacerTop = 12;

}  // namespace

TdlgWebFolder::TdlgWebFolder(uint32_t parentWindow, int32_t dialogId, int32_t objectId, std::string notes)
    : platform::Form("dlgWebFolder", kPageCaption),
      Panel1(Add("Panel1", ComponentKind::Panel)),
      Panel2(Add("Panel2", ComponentKind::Panel)),
      Panel3(Add("Panel3", ComponentKind::Panel)),
      Panel4(Add("Panel4", ComponentKind::Panel)),
      Bevel5(Add("Bevel5", ComponentKind::Panel)),
      lblWeb(Add("lblWeb", ComponentKind::Label)),
      imgWeb(Add("imgWeb", ComponentKind::Image)),
      Label13(Add("Label13", ComponentKind::Label)),
      Label14(Add("Label14", ComponentKind::Label)),
      memoDeploymentPaths(Add("memoDeploymentPaths", ComponentKind::Memo)),
      btnFtp(Add("btnFtp", ComponentKind::Button)),
      btnAddPath(Add("btnAddPath", ComponentKind::Button)),
      chkFtpPassive(Add("chkFtpPassive", ComponentKind::CheckBox)),
      lblFtpConnections(Add("lblFtpConnections", ComponentKind::Label)),
      edtFtpConnections(Add("edtFtpConnections", ComponentKind::Edit)),
      ParentWindow(parentWindow),
      ObjectId(objectId),
      Notes(std::move(notes)),
      DialogId(dialogId) {
  clientWidth = Width;
  clientHeight = Height;
  fontName = "MS Sans Serif";
  fontSize = 8;
  borderStyle = platform::BorderStyle::None;
  borderIcons = false;
  for (platform::Component* part : {&Bevel5, &lblWeb, &imgWeb, &Label13, &Label14, &memoDeploymentPaths, &btnFtp,
                                    &btnAddPath, &chkFtpPassive, &lblFtpConnections, &edtFtpConnections})
    part->parent = Panel4.name;
  Bevel5.bottomLine = true;
  lblWeb.accelChar = false;  // a folder name
  Label14.wordWrap = true;
  memoDeploymentPaths.verticalScrollBar = true;
  SetBounds(Panel1, 0, 0, kSpacerSide, Height);
  SetBounds(Panel2, Width - kSpacerSide, 0, kSpacerSide, Height);
  SetBounds(Panel3, kSpacerSide, 0, Width - 2 * kSpacerSide, kSpacerTop);
  SetBounds(Panel4, kSpacerSide, kSpacerTop, Width - 2 * kSpacerSide, Height - kSpacerTop);
  SetBounds(Bevel5, 0, 0, Panel4.width, 42);
  SetBounds(lblWeb, 77, 9, 0, 13);
  SetBounds(imgWeb, 0, 0, 32, 32);
  Label13.caption = "&Deployment paths:";
  SetBounds(Label13, 0, 51, 92, 13);
  Label14.caption =
      "Enter the list of paths (including ftp) that you would like to be able to deploy this folder to. If "
      "you enter any paths, the folder will be designated a Web Folder and you will be able to deploy the "
      "files it contains using the Web menu option.";
  SetBounds(Label14, 0, 228, 317, 78);
  SetBounds(memoDeploymentPaths, 0, 67, 317, 126);
  ui::SetButton(btnFtp, "Add &FTP", 164, 196, platform::mrNone);
  btnFtp.onClick = [this] { btnFtpClick(); };
  ui::SetButton(btnAddPath, "&Add Path", 243, 196, platform::mrNone);
  btnAddPath.onClick = [this] { btnAddPathClick(); };
  // Below the explanation (which ends at 306) the designed page is empty down to its bottom edge
  // (409 in Panel4): the settings fit there without moving anything.
  chkFtpPassive.caption = "&Passive FTP mode";
  SetBounds(chkFtpPassive, 0, 314, 161, 17);
  lblFtpConnections.caption = "&Number of FTP connections:";
  lblFtpConnections.focusControl = edtFtpConnections.name;
  // Room to the box for a face wider than the designed one (a one-line label grows to its text).
  SetBounds(lblFtpConnections, 0, 343, 140, 13);
  SetBounds(edtFtpConnections, 160, 339, 41, 21);
  focused = memoDeploymentPaths.name;
}

uint32_t TdlgWebFolder::Handle() { return platform::CurrentToolkit().HandleOf(*this); }

void TdlgWebFolder::LoadPage() {
  DeployTo = deploy::ReadDeployTo(Notes);
  memoDeploymentPaths.lines = DeployTo.empty() ? std::vector<std::string>{} : deploy::SplitLocations(DeployTo);
  const deploy::IniText settings(Notes);
  LoadedPassiveValue = settings.Read(deploy::kWebFolderSection, deploy::kFtpPassiveKey, "");
  LoadedPassive = deploy::ReadFtpPassive(Notes);
  chkFtpPassive.checked = LoadedPassive;
  // As written, even a value deployment would not take: the user sees what is there.
  LoadedConnections = settings.Read(deploy::kWebFolderSection, deploy::kFtpConnectionsKey, "");
  edtFtpConnections.caption = LoadedConnections;
  std::string folderName, displayPath, path, notes;
  int32_t a = 0, b = 0, c = 0;
  int32_t status = -1;
  try {
    status = host::MainVcsGetFolderInfo(ObjectId, folderName, displayPath, path, notes, a, b, c);
  } catch (...) {
    // A host without the library or the function still gets its page, without the name.
  }
  lblWeb.caption = status == host::kStatusOk ? folderName : std::string();
}

std::string TdlgWebFolder::SavePage(const std::string& hostNotes) {
  std::string result = WriteFtpSettings(deploy::WriteWebFolderSettings(hostNotes, memoDeploymentPaths.lines));
  DeployTo = deploy::ReadDeployTo(result);
  return result;
}

// Checked writes 1; unchecked writes 0 when the user unchecked it or the notes said 0, so a page
// saved untouched never adds the key. A typed connection count is written; an empty or untouched
// box leaves the key as it was. A value already in the notes is not written again.
std::string TdlgWebFolder::WriteFtpSettings(const std::string& notes) const {
  deploy::IniText ini(notes);
  const std::string passiveNow = ini.Read(deploy::kWebFolderSection, deploy::kFtpPassiveKey, "");
  std::string passive;
  if (chkFtpPassive.checked)
    passive = "1";
  else if (LoadedPassive || LoadedPassiveValue == "0")
    passive = "0";
  if (passive == passiveNow) passive.clear();
  const std::string& typed = edtFtpConnections.caption;
  std::string connections;
  if (!typed.empty() && typed != LoadedConnections && deploy::FtpConnectionsProblem(typed).empty() &&
      typed != ini.Read(deploy::kWebFolderSection, deploy::kFtpConnectionsKey, ""))
    connections = typed;
  if (passive.empty() && connections.empty()) return notes;
  if (!passive.empty()) ini.Write(deploy::kWebFolderSection, deploy::kFtpPassiveKey, passive);
  if (!connections.empty()) ini.Write(deploy::kWebFolderSection, deploy::kFtpConnectionsKey, connections);
  return ini.ToText();
}

std::string TdlgWebFolder::ValidatePage() const {
  const std::string& typed = edtFtpConnections.caption;
  // What the notes held is not the user's to answer for; only what was typed is checked.
  if (typed.empty() || typed == LoadedConnections) return {};
  return deploy::FtpConnectionsProblem(typed);
}

void TdlgWebFolder::PlacePage(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  // A rectangle turned inside out gives an empty page, not a negative one; the sides are
  // measured wide enough that no rectangle the host passes overflows.
  auto side = [](int32_t from, int32_t to) {
    int64_t length = static_cast<int64_t>(to) - from;
    return static_cast<int>(std::clamp<int64_t>(length, 0, INT32_MAX));
  };
  int width = side(x1, x2);
  int height = side(y1, y2);
  left = x1;
  top = y1;
  MinWidth = MaxWidth = Width = clientWidth = width;
  MinHeight = MaxHeight = Height = clientHeight = height;
  // The strips keep their margins; Panel4 takes the rest.
  SetBounds(Panel1, 0, 0, kSpacerSide, height);
  SetBounds(Panel2, std::max(0, width - kSpacerSide), 0, kSpacerSide, height);
  SetBounds(Panel3, kSpacerSide, 0, std::max(0, width - 2 * kSpacerSide), kSpacerTop);
  int panelWidth = std::max(0, width - 2 * kSpacerSide);
  int panelHeight = std::max(0, height - kSpacerTop);
  if (panelWidth != Panel4.width || panelHeight != Panel4.height) {
    SetBounds(Panel4, kSpacerSide, kSpacerTop, panelWidth, panelHeight);
    Panel4Resize();
  }
}

void TdlgWebFolder::Panel4Resize() {
  Bevel5.width = Panel4.width;
  memoDeploymentPaths.width = Panel4.width;
  Label14.width = Panel4.width;
  btnAddPath.left = Panel4.width - btnAddPath.width;
}

void TdlgWebFolder::AppendLine(const std::string& line) {
  memoDeploymentPaths.lines.push_back(line);
  MemoModified = true;
}

void TdlgWebFolder::btnAddPathClick() {
  std::string chosen = ui::BrowseForDirectory(Handle(), "");
  if (chosen.empty()) return;
  AppendLine(platform::UniversalPathName(chosen));
}

void TdlgWebFolder::btnFtpClick() {
  std::string location = ShowFtpDetails();
  if (location.empty()) return;
  AppendLine(location);
}

TdlgWebFolder* PropertyPage() { return Page().get(); }

bool HasPage(int32_t dialogId, int32_t flags) { return dialogId == kFolderPropertiesDialog && (flags & 1) != 0; }

uint32_t CreatePage(int32_t dialogId, uint32_t parent, int32_t objectId, const char* notes, char* caption) {
  if (dialogId != kFolderPropertiesDialog) return 0;
  // At most one page: one the host did not release is not reachable any more and goes now.
  Page().reset();
  Page() = std::make_unique<TdlgWebFolder>(parent, dialogId, objectId, notes ? notes : "");
  TdlgWebFolder& page = *Page();
  page.BorderVisible = false;
  page.LoadPage();
  // Shown as the host's child window where the backend has windows; its handle is the page's.
  const uint32_t handle = platform::CurrentToolkit().ShowAsChild(page, parent);
  page.Showing = true;
  if (caption) std::memcpy(caption, kPageCaption, std::strlen(kPageCaption) + 1);
  return handle;
}

void PagePlace(int32_t dialogId, uint32_t window, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (TdlgWebFolder* page = PageFor(dialogId, window)) {
    page->PlacePage(left, top, right, bottom);
    platform::CurrentToolkit().Repaint(*page);  // a real child window follows the form
  }
}

bool PageGetData(int32_t dialogId, uint32_t window, char* notes) {
  TdlgWebFolder* page = PageFor(dialogId, window);
  if (!page || !notes) return false;
  // What was typed since the last handler ran is in the page's windows only.
  platform::CurrentToolkit().TakeInput(*page);
  std::string current(notes, strnlen(notes, host::kNotesSize));
  std::string result = page->SavePage(current);
  // The host keeps notes in buffers of this size; a longer text would come back cut short.
  if (result.size() + 1 > static_cast<size_t>(host::kNotesSize)) {
    platform::CurrentToolkit().ShowMessageBox(
        "The deployment paths could not be saved: the folder notes would be longer than 65535 characters.",
        kPageCaption, platform::MessageIcon::Error, platform::MessageButtons::Ok);
    return false;
  }
  std::memcpy(notes, result.c_str(), result.size() + 1);
  return true;
}

bool PageValidate(int32_t dialogId, uint32_t window) {
  TdlgWebFolder* page = PageFor(dialogId, window);
  if (!page) return false;
  platform::CurrentToolkit().TakeInput(*page);
  const std::string problem = page->ValidatePage();
  if (problem.empty()) return true;
  page->focused = page->edtFtpConnections.name;
  platform::CurrentToolkit().ShowMessageBox(platform::EscapeControls(problem) + ".", kPageCaption,
                                            platform::MessageIcon::Error, platform::MessageButtons::Ok);
  return false;
}

void PageRelease(int32_t dialogId, uint32_t window) {
  if (dialogId != kFolderPropertiesDialog) return;
  // With another window than the page's the page is no longer referenced either way.
  Page().reset();
}

}  // namespace skelder::addin
