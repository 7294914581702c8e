#include "addin/dlg_ftp_details.h"

#include "deploy/web_folder_settings.h"
#include "platform/toolkit.h"
#include "ui/form_layout.h"

namespace skelder::addin {

using platform::ComponentKind;
using ui::SetBounds;

TfrmFtpDetails::TfrmFtpDetails()
    : platform::Form("frmFtpDetails", "FTP Connection"),
      Label1(Add("Label1", ComponentKind::Label)),
      Label2(Add("Label2", ComponentKind::Label)),
      Label3(Add("Label3", ComponentKind::Label)),
      edtFtpSite(Add("edtFtpSite", ComponentKind::Edit)),
      edtUser(Add("edtUser", ComponentKind::Edit)),
      edtPassword(Add("edtPassword", ComponentKind::Edit)),
      btnOK(Add("btnOK", ComponentKind::Button)),
      btnCancel(Add("btnCancel", ComponentKind::Button)) {
  clientWidth = 336;
  clientHeight = 142;
  borderStyle = platform::BorderStyle::Dialog;
  centred = true;
  Label1.caption = "&FTP Site:";
  SetBounds(Label1, 18, 17, 49, 13);
  Label2.caption = "&Username:";
  SetBounds(Label2, 11, 49, 56, 13);
  Label3.caption = "&Password:";
  SetBounds(Label3, 13, 82, 54, 13);
  for (platform::Component* label : {&Label1, &Label2, &Label3}) label->alignRight = true;
  Label1.focusControl = edtFtpSite.name;
  Label2.focusControl = edtUser.name;
  Label3.focusControl = edtPassword.name;
  SetBounds(edtFtpSite, 71, 14, 254, 21);
  SetBounds(edtUser, 71, 46, 137, 21);
  // Shown as typed in the dialog; a terminal asks for it without echo.
  SetBounds(edtPassword, 71, 79, 137, 21);
  edtPassword.secret = true;
  ui::SetButton(btnOK, "OK", 168, 110, platform::mrNone);
  btnOK.isDefault = true;
  btnOK.onClick = [this] { btnOKClick(); };
  ui::SetButton(btnCancel, "Cancel", 250, 110, platform::mrCancel);
  btnCancel.isCancel = true;
  onShow = [this] { FormShow(); };
}

void TfrmFtpDetails::FormShow() { focused = edtFtpSite.name; }

void TfrmFtpDetails::btnOKClick() {
  if (edtFtpSite.caption.empty()) {
    // No location without a site: back to the box, with the stop sound; the dialog stays open.
    focused = edtFtpSite.name;
    platform::CurrentToolkit().Beep(platform::BeepKind::Error);
    return;
  }
  modalResult = platform::mrOk;
}

std::string ShowFtpDetails() {
  TfrmFtpDetails dialog;
  if (platform::CurrentToolkit().ShowModal(dialog) != platform::mrOk) return {};
  return deploy::ComposeFtpLocation(dialog.edtFtpSite.caption, dialog.edtUser.caption, dialog.edtPassword.caption);
}

}  // namespace skelder::addin
