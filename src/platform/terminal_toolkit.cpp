#include "platform/terminal_toolkit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <cstring>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/termination.h"

namespace skelder::platform {

namespace {

bool OnActivePage(const Form& form, const Component& c) { return c.page == -1 || c.page == form.activePage; }

// Components of the active page in reading order (top to bottom, then left to right).
std::vector<const Component*> PageComponents(const Form& form) {
  std::vector<const Component*> list;
  for (const auto& c : form.Components()) {
    if (c->kind == ComponentKind::Notebook || !c->visible || !OnActivePage(form, *c)) continue;
    list.push_back(c.get());
  }
  std::stable_sort(list.begin(), list.end(), [](const Component* a, const Component* b) {
    return a->top != b->top ? a->top < b->top : a->left < b->left;
  });
  return list;
}

struct Choice {
  Component* button;
  std::string label;
  char key;
};

// The enabled buttons of the active page with a key each: the accelerator ("&Continue": c)
// first, then the first free letter of the caption.
std::vector<Choice> Choices(const Form& form) {
  std::vector<Choice> choices;
  for (const Component* c : PageComponents(form)) {
    if (c->kind != ComponentKind::Button || !c->enabled) continue;
    choices.push_back({const_cast<Component*>(c), StripAccelerator(c->caption), AcceleratorKey(c->caption)});
  }
  auto taken = [&](char k, size_t self) {
    for (size_t i = 0; i < choices.size(); ++i)
      if (i != self && choices[i].key == k) return true;
    return false;
  };
  for (size_t i = 0; i < choices.size(); ++i)
    if (choices[i].key != 0 && taken(choices[i].key, i) && i > 0) choices[i].key = 0;
  for (size_t i = 0; i < choices.size(); ++i) {
    if (choices[i].key != 0) continue;
    for (char ch : AsciiLower(choices[i].label))
      if (std::isalnum(static_cast<unsigned char>(ch)) && !taken(ch, i)) {
        choices[i].key = ch;
        break;
      }
  }
  return choices;
}

// "1.5 KiB", "12.0 MiB": a byte count as a person reads it.
std::string Bytes(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(kUnits)) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

// The numbers beside a bar: "7/319" items, or "1.2 MiB of 3.4 MiB, 850.0 KiB/s" bytes.
std::string ProgressDetails(const Component& bar, double bytesPerSecond) {
  const int64_t pos = std::max(0, bar.position - bar.min), span = std::max(0, bar.max - bar.min);
  switch (bar.unit) {
    case ProgressUnit::Items: {
      const int64_t per = std::max(1, bar.stepsPerItem);
      return "  " + std::to_string(pos / per) + "/" + std::to_string(span / per);
    }
    case ProgressUnit::Bytes: {
      const double per = static_cast<double>(std::max<int64_t>(1, bar.bytesPerStep));
      std::string text = "  " + Bytes(static_cast<double>(pos) * per) + " of " + Bytes(static_cast<double>(span) * per);
      if (bytesPerSecond > 0) text += ", " + Bytes(bytesPerSecond) + "/s";
      return text;
    }
    default:
      return {};
  }
}

std::string ProgressText(const Component& bar, int columns, double bytesPerSecond) {
  int span = std::max(1, bar.max - bar.min);
  int pos = std::clamp(bar.position - bar.min, 0, span);
  int percent = static_cast<int>(static_cast<int64_t>(pos) * 100 / span);
  const std::string label =
      bar.label.empty() ? std::string() : bar.label + std::string(bar.label.size() < 9 ? 9 - bar.label.size() : 1, ' ');
  const std::string details = ProgressDetails(bar, bytesPerSecond);
  int cells = std::clamp(columns - 8 - static_cast<int>(label.size() + details.size()), 10, 50);
  int full = static_cast<int>(static_cast<int64_t>(pos) * cells / span);
  std::string text = "[";
  text.append(static_cast<size_t>(full), '#');
  text.append(static_cast<size_t>(cells - full), '-');
  text += "] ";
  std::string p = std::to_string(percent) + "%";
  text.append(4 - std::min<size_t>(4, p.size()), ' ');
  return label + text + p + details;
}

}  // namespace

std::string TrimAnswer(const std::string& line) {
  const size_t b = line.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const size_t e = line.find_last_not_of(" \t\r\n");
  return line.substr(b, e - b + 1);
}

char AcceleratorKey(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return AsciiLowerChar(caption[i + 1]);
  }
  return 0;
}

std::string StripAccelerator(const std::string& caption) {
  if (caption.find('&') == std::string::npos) return caption;
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

TerminalToolkit::TerminalToolkit(TerminalOptions options) : options_(options) {
  if (options_.errorFd < 0) options_.errorFd = options_.outputFd == 1 ? 2 : options_.outputFd;
  writeFd_ = options_.outputFd;
  // A terminal that says it is dumb moves no cursor and shows no colour: it gets plain lines.
  const char* term = std::getenv("TERM");
  const bool dumb = term && std::string(term) == "dumb";
  tty_ = options_.tty ? *options_.tty : console::IsTerminal(options_.outputFd) && !dumb;
  if (options_.color) {
    color_ = *options_.color;
  } else {
    const char* noColor = std::getenv("NO_COLOR");
    color_ = tty_ && !(noColor && *noColor);
  }
}

TerminalToolkit::~TerminalToolkit() = default;

int TerminalToolkit::Columns() const {
  if (options_.width > 0) return options_.width;
  const int columns = console::Columns(options_.outputFd);
  return columns > 0 ? columns : 80;
}

// Output that is gone does not stop the run.
void TerminalToolkit::Write(const std::string& text) { console::WriteAll(writeFd_, text.data(), text.size()); }

void TerminalToolkit::WriteLine(const std::string& text) { Write(ShownText(text) + "\n"); }

std::string TerminalToolkit::Styled(const std::string& text, const Component* c) const {
  if (!color_ || c == nullptr || text.empty()) return text;
  std::string sgr;
  if (c->bold) sgr += "1";
  if (!(c->fontColor == kWindowText)) {
    const Color& k = c->fontColor;
    const char* code = nullptr;
    if (k.r >= k.g && k.r >= k.b && k.r > 0)
      code = "31";
    else if (k.g >= k.b && k.g > 0)
      code = "32";
    else if (k.b > 0)
      code = "34";
    if (code) sgr += sgr.empty() ? code : std::string(";") + code;
  }
  if (!c->enabled) sgr += sgr.empty() ? "2" : ";2";
  if (sgr.empty()) return text;
  return "\x1b[" + sgr + "m" + text + "\x1b[0m";
}

TerminalToolkit::ReadResult TerminalToolkit::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    size_t nl = inBuffer_.find('\n');
    if (nl != std::string::npos) {
      line = inBuffer_.substr(0, nl);
      inBuffer_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return ReadResult::Line;
    }
    if (inputEnded_) {
      if (inBuffer_.empty()) return ReadResult::EndOfInput;
      line.swap(inBuffer_);
      return ReadResult::Line;
    }
    // Told to end: nobody is left to answer (the terminal may be gone).
    if (TerminationRequested()) return ReadResult::Interrupted;
    char chunk[512];
    size_t n = 0;
    switch (console::Read(options_.inputFd, chunk, sizeof chunk, &n)) {
      case console::ReadState::Data:
        inBuffer_.append(chunk, n);
        break;
      case console::ReadState::End:
        inputEnded_ = true;
        break;
      case console::ReadState::Interrupted:
        return ReadResult::Interrupted;
      case console::ReadState::Woken:
        break;  // a signal came: the flags above are looked at again
    }
  }
}

std::vector<std::string> TerminalToolkit::PanelLines(const Form& form) const {
  int columns = Columns();
  // One screen row per panel line, or the in-place redraw would miscount.
  auto fit = [columns](const std::string& s) { return CutToColumns(s, std::max(1, columns - 1)); };
  std::vector<std::string> lines;
  const Component* none = nullptr;
  Component title(nullptr, "", ComponentKind::Label);
  title.bold = true;
  // The title with the time since the form opened, once it shows progress.
  std::string heading = ShownText(form.caption);
  const bool busy = std::any_of(form.Components().begin(), form.Components().end(), [&](const auto& c) {
    return c->kind == ComponentKind::ProgressBar && c->visible && OnActivePage(form, *c);
  });
  if (busy && !modalStartMs_.empty()) {
    const uint64_t seconds = (NowMs() - modalStartMs_.back()) / 1000;
    heading +=
        "  " + std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") + std::to_string(seconds % 60);
  }
  lines.push_back(Styled(fit(heading), &title));
  if (!form.statusText.empty()) lines.push_back(fit(ShownText(form.statusText)));
  for (const Component* c : PageComponents(form)) {
    switch (c->kind) {
      case ComponentKind::Label:
      case ComponentKind::Edit:
      case ComponentKind::CheckBox:
        if (c->secret) break;
        lines.push_back(Styled(fit(ShownText(StripAccelerator(c->caption))), c));
        break;
      case ComponentKind::ProgressBar:
        lines.push_back(Styled(fit(ProgressText(*c, columns, Rate(*c))), none));
        break;
      case ComponentKind::Memo:
      case ComponentKind::ListBox:
        for (const auto& l : c->lines) lines.push_back(Styled(fit("  " + ShownText(l)), c));
        break;
      default:
        break;
    }
  }
  return lines;
}

void TerminalToolkit::DrawPanel(Form& form) {
  std::vector<std::string> lines = PanelLines(form);
  std::string out;
  if (panelLines_ > 0) out += "\r\x1b[" + std::to_string(panelLines_) + "A";
  for (const auto& l : lines) out += "\x1b[2K" + l + "\n";
  // A panel that shrank leaves rows below it: clear them and step back.
  for (int i = static_cast<int>(lines.size()); i < panelLines_; ++i) out += "\x1b[2K\n";
  if (panelLines_ > static_cast<int>(lines.size()))
    out += "\x1b[" + std::to_string(panelLines_ - static_cast<int>(lines.size())) + "A";
  Write(out);
  panelLines_ = static_cast<int>(lines.size());
  lastDrawMs_ = MonotonicMs();
  drawnOnce_ = true;
  dirtyForm_ = nullptr;
  ++redraws_;
}

void TerminalToolkit::PrintChanges(Form& form, bool wholePage) {
  if (plainForm_ != &form || plainPage_ != form.activePage) {
    plainForm_ = &form;
    plainPage_ = form.activePage;
    plainOrder_.clear();
    plainPrintedAny_ = false;
    wholePage = true;
  }
  if (wholePage && !plainPrintedAny_ && !form.caption.empty()) WriteLine(form.caption);
  if (plainOrder_.empty() || plainComponents_ != form.Components().size()) {
    // Every component of the page, shown or not: a bar that appears later keeps its place.
    // What was printed before stays known across a rebuild.
    std::vector<PlainEntry> before;
    before.swap(plainOrder_);
    plainComponents_ = form.Components().size();
    for (const auto& c : form.Components()) {
      if (!OnActivePage(form, *c)) continue;
      if (c->kind != ComponentKind::Label && c->kind != ComponentKind::Memo && c->kind != ComponentKind::ListBox)
        continue;
      if (c->transient) continue;  // the run's report lists what was done instead
      PlainEntry entry;
      entry.component = c.get();
      for (PlainEntry& old : before)
        if (old.component == c.get()) entry = std::move(old);
      plainOrder_.push_back(std::move(entry));
    }
    std::stable_sort(plainOrder_.begin(), plainOrder_.end(), [](const PlainEntry& a, const PlainEntry& b) {
      return a.component->top != b.component->top ? a.component->top < b.component->top
                                                  : a.component->left < b.component->left;
    });
  }
  for (PlainEntry& entry : plainOrder_) {
    const Component* c = entry.component;
    if (!c->visible) continue;
    // A label without an accelerator is printed as it stands: compare before building anything.
    if (entry.printedOnce && c->kind == ComponentKind::Label && entry.printed == c->caption &&
        c->caption.find('&') == std::string::npos)
      continue;
    std::string text;
    if (c->kind == ComponentKind::Label) {
      text = StripAccelerator(c->caption);
    } else {
      for (const auto& l : c->lines) text += "  " + l + "\n";
      if (!text.empty()) text.pop_back();
    }
    if (entry.printedOnce && entry.printed == text) continue;
    entry.printedOnce = true;
    entry.printed = text;
    plainPrintedAny_ = true;
    if (!text.empty()) WriteLine(text);
  }
  ++redraws_;
}

void TerminalToolkit::Flush() {
  if (dirtyForm_ != nullptr) {
    Form* f = dirtyForm_;
    dirtyForm_ = nullptr;
    if (tty_) DrawPanel(*f);
  }
}

void TerminalToolkit::EndPanel() {
  Flush();
  panelLines_ = 0;  // what comes next is printed below the panel, which stays as it is
}

void TerminalToolkit::Repaint(Form& form) {
  ++repaintRequests_;
  if (!tty_) {
    PrintChanges(form, false);
    return;
  }
  if (drawnOnce_ && MonotonicMs() - lastDrawMs_ < options_.minRedrawMs) {
    dirtyForm_ = &form;
    return;
  }
  DrawPanel(form);
}

void TerminalToolkit::ProcessMessages() {
  if (dirtyForm_ != nullptr && MonotonicMs() - lastDrawMs_ >= options_.minRedrawMs) Flush();
  if (console::TakeInterrupt()) {
    if (!modalStack_.empty()) {
      EndPanel();
      Form* top = modalStack_.back();
      const bool outer = stopping_;
      stopping_ = true;
      struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
      } restore{stopping_, outer};
      top->PressEscape();
      if (tty_) DrawPanel(*top);
    }
  }
}

double TerminalToolkit::Rate(const Component& bar) const {
  if (bar.unit != ProgressUnit::Bytes) return 0;
  // A transfer starts where the bar's range changes or its position goes back.
  RateStart& start = rates_[&bar];
  const uint64_t now = NowMs();
  if (start.max != bar.max || bar.position < start.position) start = {now, bar.position, bar.max};
  const uint64_t ms = now - start.ms;
  if (ms < 200) return 0;  // too soon to say
  return static_cast<double>(bar.position - start.position) *
         static_cast<double>(std::max<int64_t>(1, bar.bytesPerStep)) * 1000.0 / static_cast<double>(ms);
}

void TerminalToolkit::Report(const std::string& line) {
  // The live panel shows the run as it goes; lines are for output that is kept or read later.
  if (!tty_) WriteLine(line);
}

void TerminalToolkit::Beep(BeepKind) {
  if (tty_) Write("\a");
}

MessageAnswer TerminalToolkit::ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                                              MessageButtons buttons) {
  EndPanel();
  // An error box goes where errors go, so output kept in a file still shows it at once.
  struct Target {
    int& fd;
    int before;
    ~Target() { fd = before; }
  } target{writeFd_, writeFd_};
  if (icon == MessageIcon::Error) writeFd_ = options_.errorFd;
  std::string head;
  if (icon == MessageIcon::Error)
    head = color_ ? "\x1b[1;31mError:\x1b[0m " : "Error: ";
  else if (icon == MessageIcon::Warning)
    head = color_ ? "\x1b[1;33mWarning:\x1b[0m " : "Warning: ";
  std::string prefix = caption.empty() ? std::string() : caption + " - ";
  std::string question;
  switch (buttons) {
    case MessageButtons::Ok:
      question = " [Enter] ";
      break;
    case MessageButtons::YesNo:
      question = " [y/N] ";
      break;
    case MessageButtons::OkCancel:
      question = " [Enter=OK/c=Cancel] ";
      break;
  }
  Write(ShownText(prefix + head + text) + question);

  MessageAnswer safe = buttons == MessageButtons::YesNo      ? MessageAnswer::No
                       : buttons == MessageButtons::OkCancel ? MessageAnswer::Cancel
                                                             : MessageAnswer::Ok;
  auto answerText = [](MessageAnswer a) {
    switch (a) {
      case MessageAnswer::Yes:
        return "yes";
      case MessageAnswer::No:
        return "no";
      case MessageAnswer::Cancel:
        return "cancel";
      default:
        return "ok";
    }
  };
  for (const auto& [asked, answer] : options_.answers) {
    if (asked != text) continue;
    Write(std::string(answerText(answer)) + " (answered by the command line)\n");
    return answer;
  }
  if (options_.autoYes) {
    MessageAnswer a = buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    Write(std::string(answerText(a)) + "\n");
    return a;
  }
  for (;;) {
    std::string line;
    ReadResult r = ReadLine(line);
    if (r != ReadResult::Line) {
      // Ctrl-C again at the question the first one asked confirms it; otherwise the safe answer.
      const MessageAnswer given =
          r == ReadResult::Interrupted && stopping_ && buttons == MessageButtons::YesNo && !TerminationRequested()
              ? MessageAnswer::Yes
              : safe;
      Write(std::string(answerText(given)) + (r == ReadResult::Interrupted ? " (interrupted)\n" : " (end of input)\n"));
      return given;
    }
    std::string a = AsciiLower(TrimAnswer(line));
    switch (buttons) {
      case MessageButtons::Ok:
        return MessageAnswer::Ok;
      case MessageButtons::YesNo:
        if (a == "y" || a == "yes") return MessageAnswer::Yes;
        if (a.empty() || a == "n" || a == "no") return MessageAnswer::No;
        break;
      case MessageButtons::OkCancel:
        if (a.empty() || a == "ok" || a == "o") return MessageAnswer::Ok;
        if (a == "c" || a == "cancel") return MessageAnswer::Cancel;
        break;
    }
    Write("Please answer" + question);
  }
}

void TerminalToolkit::RunPrompt(Form& form) {
  std::vector<Choice> choices = Choices(form);
  auto pressEnter = [&form]() {
    Component* f = form.focused.empty() ? nullptr : form.Find(form.focused);
    if (f && f->kind == ComponentKind::Button && f->enabled && f->visible && OnActivePage(form, *f)) {
      f->Click();
      return true;
    }
    return form.PressEnter();
  };
  auto fallback = [&form]() {
    // Nothing can close the form from here: end it rather than wait forever.
    if (form.modalResult == mrNone) form.modalResult = mrCancel;
  };
  if (choices.empty()) {
    fallback();
    return;
  }
  std::string menu;
  for (const auto& ch : choices) {
    if (!menu.empty()) menu += ", ";
    menu += ch.label;
    if (ch.key) menu += std::string(" (") + ch.key + ")";
  }
  Write(menu + "? ");
  if (options_.autoYes) {
    Write("\n");
    if (!pressEnter() && !form.PressEscape()) fallback();
    return;
  }
  for (;;) {
    std::string line;
    ReadResult r = ReadLine(line);
    if (r != ReadResult::Line) {
      Write(r == ReadResult::Interrupted ? "(interrupted)\n" : "(end of input)\n");
      form.PressEscape();
      // Nobody can answer any more: a form that Esc did not close ends here.
      if (r == ReadResult::EndOfInput) fallback();
      return;
    }
    std::string a = AsciiLower(TrimAnswer(line));
    if (a.empty()) {
      if (pressEnter()) return;
    } else if (a == "esc" || a == "q") {
      if (form.PressEscape()) return;
    } else {
      for (const auto& ch : choices)
        if ((a.size() == 1 && a[0] == ch.key) || a == AsciiLower(ch.label)) {
          ch.button->Click();
          return;
        }
    }
    Write(menu + "? ");
  }
}

int TerminalToolkit::ShowModal(Form& form) {
  std::optional<console::InterruptScope> guard;
  if (modalStack_.empty()) guard.emplace();
  EndPanel();
  modalStack_.push_back(&form);
  // The run's own clock (virtual in tests): elapsed time and rates are about the run.
  modalStartMs_.push_back(NowMs());
  struct Pop {
    TerminalToolkit* self;
    ~Pop() {
      self->EndPanel();
      self->modalStack_.pop_back();
      self->modalStartMs_.pop_back();
      if (self->modalStack_.empty()) self->rates_.clear();
      self->plainForm_ = nullptr;
    }
  } pop{this};

  form.modalResult = mrNone;
  if (form.onShow) form.onShow();
  while (form.modalResult == mrNone) {
    if (tty_) {
      DrawPanel(form);
      panelLines_ = 0;  // the prompt goes below; the next run of repaints starts a new panel
    } else {
      PrintChanges(form, true);
    }
    PromptEdits(form);
    RunPrompt(form);
  }
  return form.modalResult;
}

}  // namespace skelder::platform
