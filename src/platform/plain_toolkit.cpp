// A plain line-based backend: message boxes and the buttons of a modal form become prompts on
// standard input and output. At end of input every prompt takes the safe answer at once.
#include <iostream>
#include <string>
#include <vector>

#include "platform/ascii.h"
#include "platform/toolkit.h"

namespace skelder::platform {
namespace {

std::string WithoutAccelerator(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

class PlainToolkit : public Toolkit {
 public:
  std::string Name() const override { return "plain"; }

  MessageAnswer MessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                           MessageButtons buttons) override {
    std::cout << caption << ": " << text << "\n";
    const MessageAnswer safe = buttons == MessageButtons::YesNo      ? MessageAnswer::No
                               : buttons == MessageButtons::OkCancel ? MessageAnswer::Cancel
                                                                     : MessageAnswer::Ok;
    std::cout << (buttons == MessageButtons::YesNo      ? "[y/N] "
                  : buttons == MessageButtons::OkCancel ? "[ok/Cancel] "
                                                        : "[OK] ")
              << std::flush;
    std::string answer;
    if (!ReadLine(answer)) return safe;
    answer = AsciiLower(answer);
    switch (buttons) {
      case MessageButtons::YesNo:
        if (answer == "y" || answer == "yes") return MessageAnswer::Yes;
        return MessageAnswer::No;
      case MessageButtons::OkCancel:
        if (answer == "o" || answer == "ok") return MessageAnswer::Ok;
        return MessageAnswer::Cancel;
      case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
  }

  void Beep(BeepKind) override {}
  Cursor GetCursor() override { return cursor_; }
  void SetCursor(Cursor cursor) override { cursor_ = cursor; }
  void NudgeMouse() override {}

  // Offers the enabled buttons of the active page until one closes the form. An empty line is
  // Enter; end of input is Esc, and when that does not close the form nothing else can.
  int ShowModal(Form& form) override {
    form.modalResult = mrNone;
    if (form.onShow) form.onShow();
    while (form.modalResult == mrNone) {
      std::vector<Component*> buttons;
      for (const auto& c : form.Components()) {
        if (c->kind == ComponentKind::Button && c->enabled && c->visible &&
            (c->page == -1 || c->page == form.activePage))
          buttons.push_back(c.get());
      }
      if (buttons.empty()) break;
      std::cout << form.caption << ":";
      for (Component* b : buttons) std::cout << " [" << WithoutAccelerator(b->caption) << "]";
      std::cout << " " << std::flush;
      std::string answer;
      if (!ReadLine(answer)) {
        form.PressEscape();
        break;
      }
      if (answer.empty()) {
        form.PressEnter();
        continue;
      }
      for (Component* b : buttons) {
        if (EqualsIgnoringAsciiCase(answer, WithoutAccelerator(b->caption)) || answer == b->name) {
          b->Click();
          break;
        }
      }
    }
    if (form.modalResult == mrNone) form.modalResult = mrCancel;
    return form.modalResult;
  }

  void Repaint(Form&) override {}
  void ProcessMessages() override {}

 private:
  bool ReadLine(std::string& line) {
    if (ended_ || !std::getline(std::cin, line)) {
      ended_ = true;
      std::cout << "\n";
      return false;
    }
    line = Trimmed(line);
    return true;
  }

  Cursor cursor_ = Cursor::Default;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Toolkit> MakeDefaultToolkit() { return std::make_unique<PlainToolkit>(); }

}  // namespace skelder::platform
