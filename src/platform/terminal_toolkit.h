#pragma once
// The terminal backend of the toolkit, for command-line hosts. On a TTY a form is a live panel
// (caption, labels, progress bars, memo lines of the active page) redrawn in place at most about
// twenty times a second; when output is not a TTY it prints one plain line per changed label.
// Message boxes and the buttons of a modal form become prompts. At end of input a prompt takes
// the safe answer at once (No, OK, the Esc button), so it never blocks.
//
// Ctrl-C while a modal form runs does not kill the process: the signal handler only sets a flag,
// and the next message-processing turn turns it into Esc on the topmost form (which, in the
// deploy dialog, asks the cancel question). Ctrl-C again at a Yes/No question that the Esc brought
// up answers Yes: the user asked twice to stop. The previous handler is back when the form closes.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/display_text.h"
#include "platform/toolkit.h"

namespace skelder::platform {

struct TerminalOptions {
  int inputFd = 0;
  int outputFd = 1;
  // Error boxes (with their answers); -1: standard error when the output is standard output,
  // else the output itself.
  int errorFd = -1;
  // Whether output is a live terminal; unset: asks the output descriptor.
  std::optional<bool> tty;
  // Colours; unset: only on a TTY and never when NO_COLOR is set.
  std::optional<bool> color;
  // Answers every prompt by itself: Yes, OK, the form's Enter button (Continue, Done).
  bool autoYes = false;
  // Questions answered in advance, by their text, with or without autoYes: a host's options
  // decide these (a locked file is published only when asked for by name).
  std::vector<std::pair<std::string, MessageAnswer>> answers;
  // Shortest time between two redraws of a live panel.
  uint32_t minRedrawMs = 50;
  // Columns of the terminal; 0: asks the output descriptor (80 when it cannot say).
  int width = 0;
  // What Name() reports.
  std::string name = "terminal";
};

class TerminalToolkit : public Toolkit {
 public:
  explicit TerminalToolkit(TerminalOptions options = {});
  ~TerminalToolkit() override;

  std::string Name() const override { return options_.name; }

  MessageAnswer ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                               MessageButtons buttons) override;
  void Beep(BeepKind kind) override;
  Cursor GetCursor() override { return cursor_; }
  void SetCursor(Cursor cursor) override { cursor_ = cursor; }
  void NudgeMouse() override {}

  int ShowModal(Form& form) override;
  void Repaint(Form& form) override;
  void ProcessMessages() override;
  void Report(const std::string& line) override;

  // The folder browser as a directory chooser, and the host's property dialog as the page's
  // lines with actions (terminal_pages.cpp).
  FolderBrowser& FolderBrowserBackend() override;
  bool RunPropertyPage(Form& page) override;

  bool IsTty() const { return tty_; }
  bool UsesColor() const { return color_; }
  // Panels drawn (TTY) or plain repaints handled; the benchmark and tests read it.
  uint64_t RedrawCount() const { return redraws_; }
  uint64_t RepaintRequests() const { return repaintRequests_; }

 private:
  enum class ReadResult { Line, EndOfInput, Interrupted };
  ReadResult ReadLine(std::string& line);
  // A line typed without echo on a TTY.
  ReadResult ReadSecretLine(std::string& line);
  // Asks for the form's enabled text boxes (secrets without echo); an empty answer keeps the
  // value.
  void PromptEdits(Form& form);
  friend class TerminalFolderBrowser;

  void Write(const std::string& text);
  void WriteLine(const std::string& text);
  std::string Styled(const std::string& text, const Component* component) const;
  std::vector<std::string> PanelLines(const Form& form) const;
  void DrawPanel(Form& form);
  void PrintChanges(Form& form, bool wholePage);
  void Flush();
  void EndPanel();
  void RunPrompt(Form& form);
  int Columns() const;

  TerminalOptions options_;
  bool tty_ = false;
  bool color_ = false;
  bool inputEnded_ = false;
  Cursor cursor_ = Cursor::Default;
  std::string inBuffer_;

  std::vector<Form*> modalStack_;
  std::vector<uint64_t> modalStartMs_;  // when each form of the stack opened
  // Bytes a second of a bar's transfer: from where its range was last set.
  struct RateStart {
    uint64_t ms = 0;
    int position = 0, max = -1;
  };
  mutable std::map<const Component*, RateStart> rates_;
  double Rate(const Component& bar) const;
  bool stopping_ = false;      // Ctrl-C's Esc is being handled: questions it asks are about stopping
  int writeFd_ = 1;            // where Write goes: the output, or the error output for an error box
  Form* dirtyForm_ = nullptr;  // a repaint that the redraw limit held back
  int panelLines_ = 0;         // lines of the live panel now on screen
  uint64_t lastDrawMs_ = 0;
  bool drawnOnce_ = false;
  uint64_t redraws_ = 0;
  uint64_t repaintRequests_ = 0;

  // Plain mode: the page's labels and lists in reading order, each with what it last printed,
  // worked out once per form and page: a run repaints thousands of times and nothing moves
  // meanwhile.
  struct PlainEntry {
    const Component* component = nullptr;
    bool printedOnce = false;
    std::string printed;
  };
  const Form* plainForm_ = nullptr;
  int plainPage_ = -2;
  std::vector<PlainEntry> plainOrder_;
  size_t plainComponents_ = 0;  // the form's component count when plainOrder_ was made
  bool plainPrintedAny_ = false;
};

// The plain form of the terminal backend: one line per change and prompts, never a live panel
// or colours.
std::unique_ptr<Toolkit> MakePlainToolkit(TerminalOptions options = {});

// The caption without its accelerator marks ("&Continue" -> "Continue", "&&" -> "&"), and the
// letter after its mark in lower case (0 when it has none).
std::string StripAccelerator(const std::string& caption);
char AcceleratorKey(const std::string& caption);

// An answer typed at the terminal without the blanks and line ends around it.
std::string TrimAnswer(const std::string& line);

}  // namespace skelder::platform
