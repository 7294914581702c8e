#pragma once
// A prompt box: a caption, a prompt line, one text field, OK and Cancel, shown modally.
#include <string>

#include "platform/widgets.h"

namespace skelder::ui {

// The prompt as a form: lblPrompt, edtValue, btnOK (Enter), btnCancel (Esc).
class TfrmInputQuery : public platform::Form {
 public:
  TfrmInputQuery(const std::string& title, const std::string& prompt, const std::string& value);
  platform::Component& lblPrompt;
  platform::Component& edtValue;
  platform::Component& btnOK;
  platform::Component& btnCancel;
};

// True when the user pressed OK; `value` then holds the field's text. Cancel leaves it alone.
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);

}  // namespace skelder::ui
