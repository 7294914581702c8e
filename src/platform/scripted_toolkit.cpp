#include "platform/scripted_toolkit.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "platform/ascii.h"
#include "platform/exception.h"
#include "platform/terminal_toolkit.h"

namespace skelder::platform {

// ---- actions ---------------------------------------------------------------------------------

ScriptAction ScriptAction::Click(std::string component) {
  ScriptAction a;
  a.kind = Kind::Click;
  a.component = std::move(component);
  return a;
}
ScriptAction ScriptAction::Enter() {
  ScriptAction a;
  a.kind = Kind::PressEnter;
  return a;
}
ScriptAction ScriptAction::Escape() {
  ScriptAction a;
  a.kind = Kind::PressEscape;
  return a;
}
ScriptAction ScriptAction::SetText(std::string component, std::string text) {
  ScriptAction a = Click(std::move(component));
  a.kind = Kind::SetText;
  a.text = std::move(text);
  return a;
}
ScriptAction ScriptAction::AppendLine(std::string component, std::string text) {
  ScriptAction a = SetText(std::move(component), std::move(text));
  a.kind = Kind::AppendLine;
  return a;
}
ScriptAction ScriptAction::Select(std::string component, int index) {
  ScriptAction a = Click(std::move(component));
  a.kind = Kind::Select;
  a.index = index;
  return a;
}
ScriptAction ScriptAction::SelectText(std::string component, std::string item) {
  ScriptAction a = SetText(std::move(component), std::move(item));
  a.kind = Kind::Select;
  return a;
}
ScriptAction ScriptAction::Check(std::string component, bool checked) {
  ScriptAction a = Click(std::move(component));
  a.kind = Kind::SetChecked;
  a.checked = checked;
  return a;
}

std::string ToString(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::Ok:
      return "OK";
    case MessageAnswer::Cancel:
      return "Cancel";
    case MessageAnswer::Yes:
      return "Yes";
    case MessageAnswer::No:
      return "No";
  }
  return "?";
}

std::string ToString(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::Ok:
      return "OK";
    case MessageButtons::YesNo:
      return "YesNo";
    case MessageButtons::OkCancel:
      return "OKCancel";
  }
  return "?";
}

std::string ToString(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::None:
      return "None";
    case MessageIcon::Error:
      return "Error";
    case MessageIcon::Warning:
      return "Warning";
    case MessageIcon::Question:
      return "Question";
    case MessageIcon::Information:
      return "Information";
  }
  return "?";
}

std::string ToString(BeepKind kind) {
  switch (kind) {
    case BeepKind::Default:
      return "Default";
    case BeepKind::Exclamation:
      return "Exclamation";
    case BeepKind::Error:
      return "Error";
    case BeepKind::Question:
      return "Question";
  }
  return "?";
}

std::string ToString(const ScriptAction& action) {
  using K = ScriptAction::Kind;
  switch (action.kind) {
    case K::Click:
      return "click " + action.component;
    case K::PressEnter:
      return "press Enter";
    case K::PressEscape:
      return "press Esc";
    case K::SetText:
      return "set " + action.component + " " + action.text;
    case K::AppendLine:
      return "append " + action.component + " " + action.text;
    case K::Select:
      return "select " + action.component + " " + (action.text.empty() ? std::to_string(action.index) : action.text);
    case K::SetChecked:
      return (action.checked ? "check " : "uncheck ") + action.component;
  }
  return "?";
}

// ---- the text form ---------------------------------------------------------------------------

namespace {

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// Splits off the first blank-separated word; the rest keeps its inner blanks.
std::string NextWord(std::string& rest) {
  size_t begin = rest.find_first_not_of(" \t");
  if (begin == std::string::npos) {
    rest.clear();
    return {};
  }
  size_t end = rest.find_first_of(" \t", begin);
  std::string word = rest.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
  return word;
}

std::optional<int64_t> ParseNumber(const std::string& text) {
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

ScriptAction ParseAction(const std::string& verb, std::string rest) {
  std::string v = AsciiLower(verb);
  if (v == "press") {
    std::string key = AsciiLower(NextWord(rest));
    if (!Trimmed(rest).empty()) throw Exception("unexpected text after the key");
    if (key == "enter") return ScriptAction::Enter();
    if (key == "esc" || key == "escape") return ScriptAction::Escape();
    throw Exception("unknown key \"" + key + "\" (Enter or Esc)");
  }
  std::string component = NextWord(rest);
  if (v != "click" && v != "set" && v != "append" && v != "select" && v != "check" && v != "uncheck")
    throw Exception("unknown action \"" + verb + "\"");
  if (component.empty()) throw Exception("\"" + v + "\" needs a component name");
  if (v == "click" || v == "check" || v == "uncheck") {
    if (!Trimmed(rest).empty()) throw Exception("unexpected text after the component name");
    if (v == "click") return ScriptAction::Click(component);
    return ScriptAction::Check(component, v == "check");
  }
  if (v == "set") return ScriptAction::SetText(component, rest);
  if (v == "append") return ScriptAction::AppendLine(component, rest);
  // select
  if (rest.empty()) throw Exception("\"select\" needs an index or an item text");
  if (auto n = ParseNumber(rest)) {
    if (*n < 0 || *n > INT32_MAX) throw Exception("item index out of range");
    return ScriptAction::Select(component, static_cast<int>(*n));
  }
  return ScriptAction::SelectText(component, rest);
}

}  // namespace

Script ParseScript(const std::string& text) {
  Script script;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string trimmed = Trimmed(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    try {
      // Leading blanks go; the rest of a "set" line is kept verbatim, trailing blanks included.
      std::string rest = line.substr(line.find_first_not_of(" \t"));
      std::string verb = NextWord(rest);
      std::string v = AsciiLower(verb);
      if (v == "answer") {
        std::string word = AsciiLower(NextWord(rest));
        if (!Trimmed(rest).empty()) throw Exception("unexpected text after the answer");
        if (word == "yes")
          script.answers.push_back(MessageAnswer::Yes);
        else if (word == "no")
          script.answers.push_back(MessageAnswer::No);
        else if (word == "ok")
          script.answers.push_back(MessageAnswer::Ok);
        else if (word == "cancel")
          script.answers.push_back(MessageAnswer::Cancel);
        else
          throw Exception("unknown answer \"" + word + "\" (Yes, No, OK or Cancel)");
      } else if (v == "at") {
        std::string when = NextWord(rest);
        auto n = ParseNumber(when);
        if (!n || *n < 1) throw Exception("\"at\" needs a turn number from 1, not \"" + when + "\"");
        std::string innerVerb = NextWord(rest);
        if (innerVerb.empty()) throw Exception("\"at " + when + "\" needs an action");
        script.injections.emplace_back(static_cast<uint64_t>(*n), ParseAction(innerVerb, rest));
      } else if (v == "browse") {
        ScriptedFolderBrowser check;  // the same rules as the browser that will play it
        check.AddScriptLine(rest);
        script.browser.push_back(rest);
      } else if (v == "snapshots") {
        std::string word = AsciiLower(NextWord(rest));
        if (word == "on")
          script.snapshots = true;
        else if (word == "off")
          script.snapshots = false;
        else
          throw Exception("\"snapshots\" takes on or off");
      } else {
        script.actions.push_back(ParseAction(verb, rest));
      }
    } catch (const Exception& e) {
      throw Exception("line " + std::to_string(number) + ": " + e.Message() + ": " + trimmed);
    }
  }
  return script;
}

// ---- snapshots -------------------------------------------------------------------------------

const ComponentSnapshot* FormSnapshot::Find(const std::string& component) const {
  for (const auto& c : components) {
    if (c.name == component) return &c;
  }
  return nullptr;
}

const ComponentSnapshot& FormSnapshot::Get(const std::string& component) const {
  const ComponentSnapshot* c = Find(component);
  if (!c) throw Exception("No component " + component + " on " + form);
  return *c;
}

bool FormSnapshot::Shows(const std::string& component) const {
  const ComponentSnapshot* c = Find(component);
  return c && c->visible && (c->page == -1 || c->page == activePage);
}

FormSnapshot TakeSnapshot(const Form& form) {
  FormSnapshot s;
  s.form = form.name;
  s.caption = form.caption;
  s.activePage = form.activePage;
  s.modalResult = form.modalResult;
  s.focused = form.focused;
  s.components.reserve(form.Components().size());
  for (const auto& c : form.Components()) {
    ComponentSnapshot cs;
    cs.name = c->name;
    cs.kind = c->kind;
    cs.caption = c->caption;
    cs.lines = c->lines;
    cs.visible = c->visible;
    cs.enabled = c->enabled;
    cs.bold = c->bold;
    cs.fontColor = c->fontColor;
    cs.page = c->page;
    cs.min = c->min;
    cs.max = c->max;
    cs.position = c->position;
    cs.itemIndex = c->itemIndex;
    cs.checked = c->checked;
    cs.isDefault = c->isDefault;
    cs.isCancel = c->isCancel;
    cs.secret = c->secret;
    s.components.push_back(std::move(cs));
  }
  return s;
}

// ---- the toolkit -----------------------------------------------------------------------------

ScriptedToolkit::~ScriptedToolkit() {
  if (clockInstalled_ && &CurrentClock() == &clock_) SetClock(nullptr);
}

void ScriptedToolkit::Load(const Script& script) {
  answers_.insert(answers_.end(), script.answers.begin(), script.answers.end());
  actions_.insert(actions_.end(), script.actions.begin(), script.actions.end());
  for (const auto& [turn, action] : script.injections) injections_.emplace(turn, action);
  if (script.snapshots) snapshots_ = *script.snapshots;
  for (const auto& line : script.browser) browser_.AddScriptLine(line);
}

void ScriptedToolkit::LoadScript(const std::string& text) { Load(ParseScript(text)); }

void ScriptedToolkit::LoadScriptFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception("Cannot read the script " + path);
  std::ostringstream text;
  text << in.rdbuf();
  LoadScript(text.str());
}

ScriptedToolkit& ScriptedToolkit::Answer(MessageAnswer answer) {
  answers_.push_back(answer);
  return *this;
}

ScriptedToolkit& ScriptedToolkit::Then(ScriptAction action) {
  actions_.push_back(std::move(action));
  return *this;
}

ScriptedToolkit& ScriptedToolkit::At(uint64_t turn, ScriptAction action) {
  injections_.emplace(turn, std::move(action));
  return *this;
}

VirtualClock& ScriptedToolkit::UseVirtualClock() {
  SetClock(&clock_);
  clockInstalled_ = true;
  return clock_;
}

ToolkitEvent& ScriptedToolkit::Record(ToolkitEvent::Kind kind, const Form* form, bool withSnapshot) {
  ToolkitEvent event;
  event.kind = kind;
  event.turn = turn_;
  if (form) {
    event.form = form->name;
    if (withSnapshot) {
      event.snapshot = snapshots_list_.size();
      snapshots_list_.push_back(TakeSnapshot(*form));
    }
  }
  events_.push_back(std::move(event));
  return events_.back();
}

void ScriptedToolkit::Error(const Form* form, const std::string& text) {
  Record(ToolkitEvent::Kind::ScriptError, form, false).text = text;
}

MessageAnswer ScriptedToolkit::ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                                              MessageButtons buttons) {
  const MessageAnswer safe = buttons == MessageButtons::YesNo      ? MessageAnswer::No
                             : buttons == MessageButtons::OkCancel ? MessageAnswer::Cancel
                                                                   : MessageAnswer::Ok;
  MessageAnswer answer = safe;
  bool defaulted = answers_.empty();
  if (!defaulted) {
    answer = answers_.front();
    answers_.pop_front();
    bool fits = buttons == MessageButtons::YesNo      ? (answer == MessageAnswer::Yes || answer == MessageAnswer::No)
                : buttons == MessageButtons::OkCancel ? (answer == MessageAnswer::Ok || answer == MessageAnswer::Cancel)
                                                      : answer == MessageAnswer::Ok;
    if (!fits) {
      Error(modal_.empty() ? nullptr : modal_.back(),
            "answer " + ToString(answer) + " does not fit a " + ToString(buttons) + " box: " + text);
      answer = safe;
    }
  } else {
    ++defaultedAnswers_;
  }
  ToolkitEvent& e = Record(ToolkitEvent::Kind::ShowMessageBox, modal_.empty() ? nullptr : modal_.back(), snapshots_);
  e.text = text;
  e.caption = caption;
  e.icon = icon;
  e.buttons = buttons;
  e.answer = answer;
  e.defaulted = defaulted;
  return answer;
}

void ScriptedToolkit::Beep(BeepKind kind) { Record(ToolkitEvent::Kind::Beep, nullptr, false).beep = kind; }

void ScriptedToolkit::SetCursor(Cursor cursor) {
  cursor_ = cursor;
  Record(ToolkitEvent::Kind::Cursor, nullptr, false).cursor = cursor;
}

void ScriptedToolkit::NudgeMouse() {
  ++nudges_;
  Record(ToolkitEvent::Kind::MouseNudge, nullptr, false);
}

void ScriptedToolkit::Repaint(Form& form) {
  ++repaints_;
  // Without snapshots a long run would only fill memory with events that say nothing.
  if (!snapshots_) return;
  if (repaintsKept_ >= kMaxRepaintSnapshots) {
    ++repaintsNotKept_;
    return;
  }
  ++repaintsKept_;
  Record(ToolkitEvent::Kind::Repaint, &form, true);
}

void ScriptedToolkit::ProcessMessages() {
  ++turn_;
  auto range = injections_.equal_range(turn_);
  if (range.first == range.second) return;
  // Taken out first: the actions' handlers run message loops of their own.
  std::vector<ScriptAction> due;
  for (auto it = range.first; it != range.second; ++it) due.push_back(it->second);
  injections_.erase(range.first, range.second);
  for (const ScriptAction& action : due) {
    if (modal_.empty()) {
      Error(nullptr, "at " + std::to_string(turn_) + " " + ToString(action) + ": no modal form is shown");
      continue;
    }
    Perform(*modal_.back(), action, true);
  }
}

int ScriptedToolkit::ShowModal(Form& form) {
  modal_.push_back(&form);
  struct Pop {
    std::vector<Form*>& stack;
    ~Pop() { stack.pop_back(); }
  } pop{modal_};

  form.modalResult = mrNone;
  if (form.onShow) form.onShow();
  Record(ToolkitEvent::Kind::FormShown, &form, true);
  bool defaulted = false;
  while (form.modalResult == mrNone) {
    if (!actions_.empty()) {
      ScriptAction action = actions_.front();
      actions_.pop_front();
      Perform(form, action, false);
      continue;
    }
    // Nothing left to do: leave the way a user who walks away would want, by Esc; a form that
    // Esc does not close is closed as cancelled.
    defaulted = true;
    form.PressEscape();
    if (form.modalResult == mrNone) form.modalResult = mrCancel;
  }
  ToolkitEvent& closed = Record(ToolkitEvent::Kind::FormClosed, &form, true);
  closed.modalResult = form.modalResult;
  closed.defaulted = defaulted;
  return form.modalResult;
}

void ScriptedToolkit::Perform(Form& form, const ScriptAction& action, bool injected) {
  using K = ScriptAction::Kind;
  const std::string what = ToString(action);
  Component* c = nullptr;
  if (action.kind != K::PressEnter && action.kind != K::PressEscape) {
    c = form.Find(action.component);
    if (!c) return Error(&form, what + ": no component " + action.component + " on " + form.name);
  }
  // A user cannot click what is disabled, hidden or on another page.
  if (action.kind == K::Click && (!c->enabled || !c->visible || (c->page != -1 && c->page != form.activePage)))
    return Error(&form, what + ": " + action.component + " is not clickable now");
  // The state the user saw when acting.
  ToolkitEvent& e = Record(ToolkitEvent::Kind::Action, &form, snapshots_);
  // A secret typed into a box is recorded as typed, never its text.
  e.text = c && c->secret && action.kind == K::SetText ? "set " + action.component + " ****" : MaskFtpPasswords(what);
  e.injected = injected;
  switch (action.kind) {
    case K::Click:
      if (c->kind == ComponentKind::CheckBox) c->checked = !c->checked;
      c->Click();
      return;
    case K::PressEnter:
      if (!form.PressEnter()) Error(&form, what + ": no default button took the key");
      return;
    case K::PressEscape:
      if (!form.PressEscape()) Error(&form, what + ": no cancel button took the key");
      return;
    case K::SetText:
      if (c->kind == ComponentKind::Memo || c->kind == ComponentKind::ListBox) {
        c->lines.clear();
        if (!action.text.empty()) c->lines.push_back(action.text);
      } else {
        c->caption = action.text;
      }
      return;
    case K::AppendLine:
      c->lines.push_back(action.text);
      return;
    case K::Select: {
      int index = action.index;
      if (!action.text.empty()) {
        index = -1;
        for (size_t i = 0; i < c->lines.size() && index < 0; ++i) {
          if (c->lines[i] == action.text) index = static_cast<int>(i);
        }
        if (index < 0) return Error(&form, what + ": no such item");
      }
      if (index < 0 || static_cast<size_t>(index) >= c->lines.size())
        return Error(&form, what + ": item index out of range");
      c->itemIndex = index;
      return;
    }
    case K::SetChecked:
      c->checked = action.checked;
      return;
  }
}

std::vector<ToolkitEvent> ScriptedToolkit::EventsOf(ToolkitEvent::Kind kind) const {
  std::vector<ToolkitEvent> out;
  for (const auto& e : events_) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

std::vector<std::string> ScriptedToolkit::Errors() const {
  std::vector<std::string> out;
  for (const auto& e : events_) {
    if (e.kind == ToolkitEvent::Kind::ScriptError) out.push_back(e.text);
  }
  return out;
}

const FormSnapshot* ScriptedToolkit::SnapshotOf(const ToolkitEvent& event) const {
  if (!event.snapshot || *event.snapshot >= snapshots_list_.size()) return nullptr;
  return &snapshots_list_[*event.snapshot];
}

const FormSnapshot* ScriptedToolkit::LastSnapshot(const std::string& form) const {
  for (auto it = snapshots_list_.rbegin(); it != snapshots_list_.rend(); ++it) {
    if (it->form == form) return &*it;
  }
  return nullptr;
}

std::vector<const FormSnapshot*> ScriptedToolkit::SnapshotsOf(const std::string& form) const {
  std::vector<const FormSnapshot*> out;
  for (const auto& s : snapshots_list_) {
    if (s.form == form) out.push_back(&s);
  }
  return out;
}

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

void DescribeComponents(std::ostringstream& out, const FormSnapshot& s) {
  out << "  page " << s.activePage << "\n";
  for (const auto& c : s.components) {
    // The transcript is a file: secrets and FTP passwords never go into it.
    out << "  " << c.name
        << " caption=" << Quoted(c.secret ? (c.caption.empty() ? "" : "****") : MaskFtpPasswords(c.caption));
    if (!c.lines.empty()) {
      out << " lines=[";
      for (size_t i = 0; i < c.lines.size(); ++i) out << (i ? "," : "") << Quoted(MaskFtpPasswords(c.lines[i]));
      out << "]";
    }
    out << " page=" << c.page << (c.visible ? " visible" : " hidden") << (c.enabled ? " enabled" : " disabled")
        << " color=" << int(c.fontColor.r) << "," << int(c.fontColor.g) << "," << int(c.fontColor.b);
    if (c.kind == ComponentKind::ProgressBar) out << " position=" << c.position << "/" << c.max;
    if (c.kind == ComponentKind::CheckBox) out << (c.checked ? " checked" : " unchecked");
    if (c.kind == ComponentKind::ListBox) out << " item=" << c.itemIndex;
    if (c.isDefault) out << " default";
    if (c.isCancel) out << " cancel";
    out << "\n";
  }
}

}  // namespace

std::string ScriptedToolkit::Transcript() const {
  std::ostringstream out;
  using K = ToolkitEvent::Kind;
  for (const auto& e : events_) {
    switch (e.kind) {
      case K::ShowMessageBox:
        out << "messagebox " << ToString(e.icon) << " " << ToString(e.buttons) << " caption=" << Quoted(e.caption)
            << " text=" << Quoted(e.text) << " -> " << ToString(e.answer) << (e.defaulted ? " (default)" : "") << "\n";
        break;
      case K::Beep:
        out << "beep " << ToString(e.beep) << "\n";
        break;
      case K::Cursor:
        out << "cursor " << (e.cursor == Cursor::HourGlass ? "HourGlass" : "Default") << "\n";
        break;
      case K::MouseNudge:
        out << "nudge\n";
        break;
      case K::Repaint:
        break;  // counted below; one line each would drown the rest
      case K::FormShown:
        out << "show " << e.form << "\n";
        break;
      case K::FormClosed:
        out << "close " << e.form << " result=" << e.modalResult << (e.defaulted ? " (default)" : "") << "\n";
        if (const FormSnapshot* s = SnapshotOf(e)) DescribeComponents(out, *s);
        break;
      case K::Action:
        out << (e.injected ? "at " + std::to_string(e.turn) + " " : "") << e.text << "\n";
        break;
      case K::ScriptError:
        out << "error " << Quoted(e.text) << "\n";
        break;
    }
  }
  out << "repaints " << repaints_ << "\n";
  out << "turns " << turn_ << "\n";
  return out.str();
}

}  // namespace skelder::platform
