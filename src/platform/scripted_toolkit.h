#pragma once
// The scripted backend of the toolkit, for tests and for hosts that drive the add-in without a
// person. It plays the user from a script and records everything the add-in shows.
//
// A script has three queues, each consumed in order:
// - answers: every MessageBox takes the next one; an empty queue gives the safe answer (No for
//   Yes/No, Cancel for OK/Cancel, OK for OK) and the record says it was a default;
// - form actions: a modal form that is open and not closed takes the next one after another
//   until it closes; with the queue empty it is closed by Esc (and as cancelled when Esc does
//   not close it), so a run never waits for input that will not come;
// - injections: "at N <action>" runs the action on the topmost modal form during the Nth call
//   of ProcessMessages, counted from 1 over the toolkit's life (to cancel in mid-run).
// Handlers may show message boxes and further modal forms while a form runs; every form takes
// its actions from the same queue, in order.
//
// Text form, one line each (verbs without letter case; blank lines and "#" comments skipped):
//   answer Yes|No|OK|Cancel
//   click <component>            (a check box also toggles)
//   press Enter|Esc
//   set <component> <text>       (the rest of the line, verbatim; memo/list: the only line)
//   append <component> <text>    (memo/list: one more line)
//   select <component> <index>|<item text>
//   check <component> / uncheck <component>
//   at <N> <any form action above>
//   snapshots on|off             (off: repaints are only counted, for long runs)
//   browse <folder browser action> (select PATH, select-virtual NAME, ok, cancel, esc,
//                                 click ID, move LEFT TOP: see ScriptedFolderBrowser)
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/scripted_folder_browser.h"
#include "platform/toolkit.h"

namespace skelder::platform {

struct ScriptAction {
  enum class Kind { Click, PressEnter, PressEscape, SetText, AppendLine, Select, SetChecked };
  Kind kind = Kind::Click;
  std::string component;
  std::string text;      // SetText, AppendLine; Select by item text
  int index = -1;        // Select by index (when text is empty)
  bool checked = false;  // SetChecked

  static ScriptAction Click(std::string component);
  static ScriptAction Enter();
  static ScriptAction Escape();
  static ScriptAction SetText(std::string component, std::string text);
  static ScriptAction AppendLine(std::string component, std::string text);
  static ScriptAction Select(std::string component, int index);
  static ScriptAction SelectText(std::string component, std::string item);
  static ScriptAction Check(std::string component, bool checked);
};

struct Script {
  std::vector<MessageAnswer> answers;
  std::vector<ScriptAction> actions;
  std::vector<std::pair<uint64_t, ScriptAction>> injections;
  std::optional<bool> snapshots;
  std::vector<std::string> browser;  // folder browser actions, in order
};

// Parses the text form; throws skelder::Exception naming the line ("line 3: ...").
Script ParseScript(const std::string& text);

// The state of one component at a recorded moment.
struct ComponentSnapshot {
  std::string name;
  ComponentKind kind = ComponentKind::Label;
  std::string caption;
  std::vector<std::string> lines;
  bool visible = true;
  bool enabled = true;
  bool bold = false;
  Color fontColor;
  int page = -1;
  int min = 0, max = 100, position = 0;
  int itemIndex = -1;
  bool checked = false;
  bool isDefault = false;
  bool isCancel = false;
  bool secret = false;
};

struct FormSnapshot {
  std::string form;
  std::string caption;
  int activePage = 0;
  int modalResult = mrNone;
  std::string focused;
  std::vector<ComponentSnapshot> components;

  const ComponentSnapshot* Find(const std::string& component) const;
  const ComponentSnapshot& Get(const std::string& component) const;  // throws when missing
  // Visible itself and on the page shown (or on no page).
  bool Shows(const std::string& component) const;
};

FormSnapshot TakeSnapshot(const Form& form);

struct ToolkitEvent {
  enum class Kind {
    ShowMessageBox,
    Beep,
    Cursor,
    MouseNudge,
    Repaint,
    FormShown,    // after onShow
    FormClosed,   // with the modal result
    Action,       // a scripted action performed (also when injected)
    ScriptError,  // an action that could not be performed; `text` says why
  };
  Kind kind = Kind::Repaint;
  uint64_t turn = 0;  // ProcessMessages calls so far
  std::string form;   // the form concerned (message boxes: the topmost modal form, if any)

  // MessageBox
  std::string text;  // also: ScriptError reason, Action description
  std::string caption;
  MessageIcon icon = MessageIcon::None;
  MessageButtons buttons = MessageButtons::Ok;
  MessageAnswer answer = MessageAnswer::Ok;
  bool defaulted = false;  // MessageBox: the queue was empty; FormClosed: closed by the default

  BeepKind beep = BeepKind::Default;
  Cursor cursor = Cursor::Default;
  int modalResult = mrNone;
  bool injected = false;  // Action: from an "at N" line

  // Index into Snapshots() of the form's state at this moment, if one was taken.
  std::optional<size_t> snapshot;
};

class ScriptedToolkit : public Toolkit {
 public:
  ScriptedToolkit() = default;
  explicit ScriptedToolkit(const std::string& scriptText) { LoadScript(scriptText); }
  ~ScriptedToolkit() override;

  std::string Name() const override { return "scripted"; }

  // Script building; everything appends to the queues.
  void LoadScript(const std::string& text);      // throws on a bad line, queues nothing then
  void LoadScriptFile(const std::string& path);  // throws when unreadable or bad
  void Load(const Script& script);
  ScriptedToolkit& Answer(MessageAnswer answer);
  ScriptedToolkit& Then(ScriptAction action);
  ScriptedToolkit& At(uint64_t turn, ScriptAction action);
  void SetSnapshots(bool on) { snapshots_ = on; }
  // The folder browser this toolkit plays, with its own queue and record.
  ScriptedFolderBrowser& Browser() { return browser_; }
  FolderBrowser& FolderBrowserBackend() override { return browser_; }

  // The virtual clock that goes with the script: installed as the process clock until the
  // toolkit is destroyed (or the clock is replaced).
  VirtualClock& UseVirtualClock();
  VirtualClock& Clock() { return clock_; }

  // Toolkit
  MessageAnswer ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                               MessageButtons buttons) override;
  void Beep(BeepKind kind) override;
  Cursor GetCursor() override { return cursor_; }
  void SetCursor(Cursor cursor) override;
  void NudgeMouse() override;
  int ShowModal(Form& form) override;
  void Repaint(Form& form) override;
  void ProcessMessages() override;

  // The record.
  const std::vector<ToolkitEvent>& Events() const { return events_; }
  const std::vector<FormSnapshot>& Snapshots() const { return snapshots_list_; }
  std::vector<ToolkitEvent> EventsOf(ToolkitEvent::Kind kind) const;
  std::vector<ToolkitEvent> MessageBoxes() const { return EventsOf(ToolkitEvent::Kind::ShowMessageBox); }
  std::vector<std::string> Errors() const;  // ScriptError texts
  // The snapshot taken with an event, or null.
  const FormSnapshot* SnapshotOf(const ToolkitEvent& event) const;
  // The newest snapshot of the named form, or null.
  const FormSnapshot* LastSnapshot(const std::string& form) const;
  // Every snapshot of the named form, oldest first.
  std::vector<const FormSnapshot*> SnapshotsOf(const std::string& form) const;

  uint64_t ProcessMessagesCount() const { return turn_; }
  uint64_t RepaintCount() const { return repaints_; }
  // Repaints past the first kMaxRepaintSnapshots are only counted, so a run over 100,000 files
  // does not hold millions of copies of a form; this says how many were not kept.
  static constexpr size_t kMaxRepaintSnapshots = 100000;
  uint64_t RepaintsNotKept() const { return repaintsNotKept_; }
  uint64_t NudgeCount() const { return nudges_; }
  size_t DefaultedAnswers() const { return defaultedAnswers_; }
  size_t RemainingAnswers() const { return answers_.size(); }
  size_t RemainingActions() const { return actions_.size(); }
  size_t PendingInjections() const { return injections_.size(); }
  // Forms shown modally right now, innermost last.
  const std::vector<Form*>& ModalForms() const { return modal_; }

  // The record as text, one event a line, with every component's state when a form closes:
  // what a host that reaches the toolkit only through exports can hand back to a test.
  std::string Transcript() const;

 private:
  ToolkitEvent& Record(ToolkitEvent::Kind kind, const Form* form, bool withSnapshot);
  void Perform(Form& form, const ScriptAction& action, bool injected);
  void Error(const Form* form, const std::string& text);

  std::deque<MessageAnswer> answers_;
  std::deque<ScriptAction> actions_;
  std::multimap<uint64_t, ScriptAction> injections_;
  bool snapshots_ = true;

  std::vector<ToolkitEvent> events_;
  std::vector<FormSnapshot> snapshots_list_;
  std::vector<Form*> modal_;
  Cursor cursor_ = Cursor::Default;
  uint64_t turn_ = 0;
  uint64_t repaints_ = 0;
  uint64_t repaintsKept_ = 0;
  uint64_t repaintsNotKept_ = 0;
  uint64_t nudges_ = 0;
  size_t defaultedAnswers_ = 0;

  VirtualClock clock_;
  bool clockInstalled_ = false;
  ScriptedFolderBrowser browser_;
};

// Names as the text form writes them ("Yes", "OK", "Esc", ...), for messages and transcripts.
std::string ToString(MessageAnswer answer);
std::string ToString(MessageButtons buttons);
std::string ToString(MessageIcon icon);
std::string ToString(BeepKind kind);
std::string ToString(const ScriptAction& action);

}  // namespace skelder::platform
