#pragma once
// The Win32 backend of the toolkit: every form a real window, every component a real control at
// the place the form gives it. The form stays the truth: handlers change components, and the
// backend pushes what changed to the controls (at Repaint, at ProcessMessages and after each
// handler) and pulls the user's input (edit text, list selection, check state, focus) back
// before a handler runs.
//
// With a script (the scripted backend's text form) the backend plays it on the real windows:
// form actions become real messages to the controls (BM_CLICK, WM_SETTEXT, keys), answers press
// the message box's button, "at N" lines run at the Nth ProcessMessages call. With the script's
// form actions used up the windows stay for the user; a message box left unanswered by a loaded
// script takes the safe answer.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/scripted_toolkit.h"
#include "platform/toolkit.h"

namespace skelder::platform {

class Win32Toolkit : public Toolkit {
 public:
  Win32Toolkit();
  explicit Win32Toolkit(const Script& script);
  ~Win32Toolkit() override;
  Win32Toolkit(const Win32Toolkit&) = delete;
  Win32Toolkit& operator=(const Win32Toolkit&) = delete;

  std::string Name() const override { return "win32"; }

  MessageAnswer ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                               MessageButtons buttons) override;
  void Beep(BeepKind kind) override;
  Cursor GetCursor() override { return cursor_; }
  void SetCursor(Cursor cursor) override;
  void NudgeMouse() override;
  int ShowModal(Form& form) override;
  void Repaint(Form& form) override;
  void ProcessMessages() override;
  void ProcessOneMessage() override;
  uint32_t ShowAsChild(Form& form, uint32_t parentWindow) override;
  void FormDestroyed(Form& form) override;
  void TakeInput(Form& form) override;
  FolderBrowser& FolderBrowserBackend() override;
  uint32_t HandleOf(Form& form) override;
  Form* FormOf(uint32_t handle) override;
  bool RunPropertyPage(Form& page) override;

  // The window that shows a form, and the control that shows one of its components (null when
  // there is none).
  HWND WindowOf(const Form& form) const;
  HWND ControlOf(const Form& form, const std::string& component) const;
  // Runs when a modal form's window has been shown, before its message loop: what a test reads
  // the windows back with.
  std::function<void(Form&)> onModalShown;
  // Fonts the backend made and has not deleted yet: a leak shows here.
  std::vector<HGDIOBJ> GdiObjects() const;
  uint64_t ProcessMessagesCount() const { return turn_; }
  // Script lines that could not be played, and why.
  const std::vector<std::string>& Errors() const { return errors_; }
  // Texts of the message boxes the script answered, as the boxes showed them.
  const std::vector<std::string>& AnsweredBoxes() const { return answeredBoxes_; }

  struct Window;  // toolkit_win32.cpp

 private:
  Window* Find(const Form& form) const;
  Window& Create(Form& form, HWND parent, bool child);
  void Destroy(Form& form);
  void Sync(Window& window);
  void SyncAll();
  void Pull(Window& window);
  bool Dispatch(MSG& msg);
  void BeginTurn();
  void KeepQuit(WPARAM code);
  void RethrowFailure();
  void Play(Form& form, const ScriptAction& action);
  HFONT Font(const Form& form, bool bold);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(Window& window, UINT message, WPARAM wParam, LPARAM lParam);

  std::map<const Form*, std::unique_ptr<Window>> windows_;
  std::unique_ptr<FolderBrowser> browser_;              // the shell's, made when first asked for
  std::map<std::pair<std::string, int>, HFONT> fonts_;  // (face, height), bold as negative
  std::vector<Form*> modal_;
  Cursor cursor_ = Cursor::Default;
  uint64_t turn_ = 0;
  bool quit_ = false;  // WM_QUIT seen inside a modal loop: posted again when the loops are left
  WPARAM quitCode_ = 0;
  std::exception_ptr failure_;  // a handler's error, on its way out of the window procedure

  bool scripted_ = false;
  std::deque<MessageAnswer> answers_;
  std::deque<ScriptAction> actions_;
  std::multimap<uint64_t, ScriptAction> injections_;
  std::vector<std::string> errors_;
  std::vector<std::string> answeredBoxes_;
};

}  // namespace skelder::platform
