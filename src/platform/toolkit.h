#pragma once
// The user-interface toolkit seam. Handlers talk to a backend only through these calls: show a
// form (modally), repaint, process pending messages, message boxes, beep and the busy cursor.
// Window and bitmap handles that cross the host boundary are 32-bit ids handed out here, never
// pointers.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/folder_browser.h"
#include "platform/widgets.h"

namespace skelder::platform {

enum class MessageIcon { None, Error, Warning, Question, Information };
enum class MessageButtons { Ok, YesNo, OkCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };
enum class BeepKind { Default, Exclamation, Error, Question };
enum class Cursor { Default, HourGlass };

class Toolkit {
 public:
  virtual ~Toolkit() = default;

  virtual std::string Name() const = 0;

  // Modal message box; closing it without a button counts as Cancel (or No for Yes/No).
  virtual MessageAnswer ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                                       MessageButtons buttons) = 0;
  virtual void Beep(BeepKind kind) = 0;

  virtual Cursor GetCursor() = 0;
  virtual void SetCursor(Cursor cursor) = 0;
  // Moves the mouse pointer one pixel to the right and back, so a new cursor shape shows at once.
  virtual void NudgeMouse() = 0;

  // Runs the form modally: calls onShow, then processes messages until form.modalResult is set.
  // Returns the modal result.
  virtual int ShowModal(Form& form) = 0;
  // Repaints the form at once (a step of a progress bar, a changed label).
  virtual void Repaint(Form& form) = 0;
  // Handles pending user input: clicks, keys, injected events. Handlers run from here.
  virtual void ProcessMessages() = 0;
  // A line of what a run did (a file sent, a failure, a location's summary), for presentations
  // that print lines instead of showing a live form; the others show it in the form already.
  virtual void Report(const std::string& line) {}
  // Handles at most one pending message, and only if one is waiting (the responsiveness hook's
  // turn when the application does not have priority). Backends without a queue of their own
  // run ProcessMessages.
  virtual void ProcessOneMessage() { ProcessMessages(); }

  // Makes the form a child window of a host window and shows it; returns its handle. Backends
  // without windows only hand out the form's id.
  virtual uint32_t ShowAsChild(Form& form, uint32_t parentWindow);
  // The form is going away: a backend drops whatever it shows it with.
  virtual void FormDestroyed(Form&) {}
  // Takes what the user typed into the form's windows into its components, for a host that
  // reads the form without a handler running first (a property page saved by the host).
  virtual void TakeInput(Form&) {}

  // 32-bit ids for forms and bitmaps handed to the host; 0 is never used.
  virtual uint32_t HandleOf(Form& form);
  virtual Form* FormOf(uint32_t handle);
  virtual void ReleaseHandle(uint32_t handle);

  // The shell's folder browser. The default cannot be shown (every browse ends without a
  // choice); the scripted and terminal backends play it.
  virtual FolderBrowser& FolderBrowserBackend();

  // The host's property dialog around an add-in's page, for hosts without windows of their own:
  // runs the page until the user saves (true) or cancels (false). The default shows it as a
  // modal form with the dialog's own "OK" (Enter) and "Cancel" (Esc) added once.
  virtual bool RunPropertyPage(Form& page);
};

// The platform's default backend, made when no other was installed.
std::unique_ptr<Toolkit> MakeDefaultToolkit();

// The Win32 backend (Windows only): forms as real windows. A script in the scripted backend's
// text form is played on those windows by real messages; without one a person uses them.
std::unique_ptr<Toolkit> MakeWin32Toolkit(const std::string& scriptText = {});

// A backend that is not the installed one (a test's own) learns of destroyed forms too while
// it watches.
void WatchFormDestruction(Toolkit& toolkit, bool on);

// The process-wide backend. Until one is installed it is the platform's default (terminal on
// POSIX). SetToolkit takes ownership; the previous backend is destroyed.
Toolkit& CurrentToolkit();
void SetToolkit(std::unique_ptr<Toolkit> toolkit);

}  // namespace skelder::platform
