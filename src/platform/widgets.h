#pragma once
// The forms' component model. Forms (deploy dialog, property page, FTP Connection dialog, folder
// browser) are add-in code: their components, handlers and state live here, with the names the
// forms give them. A toolkit backend (scripted, terminal, Win32) shows them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace skelder::platform {

enum class ComponentKind {
  Label,
  Button,
  ProgressBar,
  Memo,      // multi-line text
  Edit,      // single-line text box
  Notebook,  // pages; children name their page with `page`
  Panel,
  ListBox,
  CheckBox,
  Image,
};

struct Color {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Color&) const = default;
};
inline constexpr Color kWindowText{0, 0, 0};
inline constexpr Color kGreen{0, 128, 0};
inline constexpr Color kRed{255, 0, 0};

// How a form's window is framed: resizable, a fixed dialog frame, or none (a page inside a host
// window).
enum class BorderStyle { Sizeable, Dialog, None };

// Result of a modal form; 0 keeps the form open.
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

class Form;

class Component {
 public:
  Component(Form* owner, std::string componentName, ComponentKind componentKind)
      : name(std::move(componentName)), kind(componentKind), owner_(owner) {}

  Form* Owner() const { return owner_; }

  std::string name;
  ComponentKind kind;
  std::string caption;  // label and button text, edit text
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = true;
  bool enabled = true;
  bool bold = false;
  Color fontColor = kWindowText;
  int page = -1;  // notebook page the component sits on; -1: on the form itself
  // The panel the component sits in: its place is relative to that panel's (empty: the form).
  std::string parent;

  // Labels: a width of 0 sizes the label to its text; word wrap within the width; right
  // alignment; "&" marks the access key (off for labels that show names, which may hold "&").
  bool wordWrap = false;  // also memos: long lines wrap instead of scrolling sideways
  bool alignRight = false;
  bool accelChar = true;
  std::string focusControl;  // the control the label's access key puts the focus in
  // Memos and edits: a border and a vertical scroll bar.
  bool border = true;
  bool verticalScrollBar = false;
  // Panels: drawn as a line along their bottom edge (a bevel) instead of a plain area.
  bool bottomLine = false;

  // Progress bars.
  int min = 0, max = 100, position = 0;

  // Memo and list box lines.
  std::vector<std::string> lines;
  bool readOnly = false;
  int itemIndex = -1;  // list box selection

  // Edits: a password box shows this character instead of the text (0: plain).
  char passwordChar = 0;
  // A secret: a terminal asks for it without echo and never shows it.
  bool secret = false;
  // Check boxes.
  bool checked = false;

  // Buttons.
  bool isDefault = false;  // Enter
  bool isCancel = false;   // Esc
  int modalResult = mrNone;
  std::function<void()> onClick;

  // Progress-bar step: position + 1, clamped to max.
  void Step() {
    if (position < max) ++position;
  }
  // Runs the click the way a user's click does: the handler, then the button's modal result.
  void Click();

 private:
  Form* owner_;
};

class Form {
 public:
  explicit Form(std::string formName, std::string formCaption = {})
      : name(std::move(formName)), caption(std::move(formCaption)) {}
  // Releases the form's toolkit handle and tells the backend, so neither a handle nor a window
  // outlives its form.
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  Component& Add(const std::string& componentName, ComponentKind kind);
  Component* Find(const std::string& componentName) const;
  Component& Get(const std::string& componentName) const;  // throws when missing
  const std::vector<std::unique_ptr<Component>>& Components() const { return components_; }

  // Pressing Enter or Esc: clicks the enabled visible default or cancel button of the active
  // page, if any. Returns whether a button took the key.
  bool PressEnter();
  bool PressEscape();

  std::string name;
  std::string caption;
  int clientWidth = 0, clientHeight = 0;
  int left = 0, top = 0;
  std::string fontName = "MS Sans Serif";
  int fontSize = 8;
  BorderStyle borderStyle = BorderStyle::Sizeable;
  bool borderIcons = true;  // the title bar's system menu and close box
  bool centred = false;     // shown in the middle of the screen
  int activePage = 0;
  std::string focused;  // name of the component with the focus
  int modalResult = mrNone;

  std::function<void()> onCreate;
  std::function<void()> onShow;
  std::function<void()> onDestroy;

 private:
  std::vector<std::unique_ptr<Component>> components_;
};

}  // namespace skelder::platform
