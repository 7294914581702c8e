#pragma once
// The folder property page "Web Projects": the folder's list of deployment locations, one per
// line, kept in the folder notes; paths added through the folder browser, FTP locations through
// the "FTP Connection" dialog.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/widgets.h"

namespace skelder::addin {

inline constexpr int32_t kFolderPropertiesDialog = 1006;
inline constexpr const char* kPageCaption = "Web Projects";

class TdlgWebFolder : public platform::Form {
 public:
  TdlgWebFolder(uint32_t parentWindow, int32_t dialogId, int32_t objectId, std::string notes);

  platform::Component& Panel1;  // spacer strips: left, right, top
  platform::Component& Panel2;
  platform::Component& Panel3;
  platform::Component& Panel4;
  // Parts of Panel4, placed relative to it.
  platform::Component& Bevel5;
  platform::Component& lblWeb;
  platform::Component& imgWeb;
  platform::Component& Label13;
  platform::Component& Label14;
  platform::Component& memoDeploymentPaths;
  platform::Component& btnFtp;
  platform::Component& btnAddPath;
  // The folder's FTP settings, under the explanation, where the designed page has room.
  platform::Component& chkFtpPassive;
  platform::Component& lblFtpConnections;
  platform::Component& edtFtpConnections;

  uint32_t ParentWindow = 0;
  bool BorderVisible = true;
  bool Showing = false;
  int Width = 414;
  int Height = 421;
  int MinWidth = 0, MaxWidth = 0, MinHeight = 0, MaxHeight = 0;
  int fontHeight = -11;
  bool MemoModified = false;

  // The page's own fields.
  int32_t ObjectId;
  std::string Notes;
  int32_t DialogId;
  std::string DeployTo;
  // The FTP settings as the notes held them when the page opened: a save writes only what the
  // user changed, so notes saved untouched stay as they were.
  bool LoadedPassive = false;
  std::string LoadedPassiveValue;
  std::string LoadedConnections;

  uint32_t Handle();
  void LoadPage();
  // The rewritten notes for the notes the host passes now; keeps the DeployTo value joined.
  std::string SavePage(const std::string& hostNotes);
  void PlacePage(int32_t left, int32_t top, int32_t right, int32_t bottom);
  // Empty when the page may be saved, else what is wrong with it (a number of FTP connections
  // typed that is none).
  std::string ValidatePage() const;

  void Panel4Resize();
  void btnAddPathClick();
  void btnFtpClick();

 private:
  void AppendLine(const std::string& line);
  std::string WriteFtpSettings(const std::string& notes) const;
};

// The page the add-in references, none when the library loads.
TdlgWebFolder* PropertyPage();

bool HasPage(int32_t dialogId, int32_t flags);
uint32_t CreatePage(int32_t dialogId, uint32_t parent, int32_t objectId, const char* notes, char* caption);
void PagePlace(int32_t dialogId, uint32_t page, int32_t left, int32_t top, int32_t right, int32_t bottom);
bool PageGetData(int32_t dialogId, uint32_t page, char* notes);
bool PageValidate(int32_t dialogId, uint32_t page);
void PageRelease(int32_t dialogId, uint32_t page);

}  // namespace skelder::addin
