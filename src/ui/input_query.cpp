#include "ui/input_query.h"

#include "platform/toolkit.h"
#include "ui/form_layout.h"

namespace skelder::ui {

using platform::ComponentKind;

TfrmInputQuery::TfrmInputQuery(const std::string& title, const std::string& prompt, const std::string& value)
    : platform::Form("frmInputQuery", title),
      lblPrompt(Add("lblPrompt", ComponentKind::Label)),
      edtValue(Add("edtValue", ComponentKind::Edit)),
      btnOK(Add("btnOK", ComponentKind::Button)),
      btnCancel(Add("btnCancel", ComponentKind::Button)) {
  clientWidth = 233;
  clientHeight = 85;
  borderStyle = platform::BorderStyle::Dialog;
  centred = true;
  lblPrompt.caption = prompt;
  SetBounds(lblPrompt, 8, 8, 217, 13);
  edtValue.caption = value;
  SetBounds(edtValue, 8, 24, 217, 21);
  SetButton(btnOK, "OK", 71, 54, platform::mrOk);
  btnOK.isDefault = true;
  SetButton(btnCancel, "Cancel", 150, 54, platform::mrCancel);
  btnCancel.isCancel = true;
  focused = "edtValue";
}

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
  TfrmInputQuery form(caption, prompt, value);
  if (platform::CurrentToolkit().ShowModal(form) != platform::mrOk) return false;
  value = form.edtValue.caption;
  return true;
}

}  // namespace skelder::ui
