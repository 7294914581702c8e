#pragma once
// ardmoor's folder properties dialog as a window of its own (Windows): the add-in's page lives in
// it as a child window, placed below a tab with the page's caption, with the dialog's OK and
// Cancel beneath, the way the host's dialog holds an add-in's page.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ardmoor {

// What the window asks of the page (through the add-in's exports).
struct PageCalls {
  // DlgAddinParentResized with the page's rectangle in the window's client area.
  std::function<void(int32_t left, int32_t top, int32_t right, int32_t bottom)> place;
  // OK: validates and collects; false keeps the dialog open.
  std::function<bool()> ok;
};

// A click the host plays on its own OK or Cancel (tests, screenshots): at the earliest `delayMs`
// after the window shows, and only while the add-in is not busy (no window of its own open over
// it, none of its messages waiting).
struct HostClick {
  bool ok = true;
  unsigned delayMs = 0;
};
// "OK", "Cancel", optionally followed by "@" and the delay in milliseconds ("OK@1500"); none for
// anything else.
std::optional<HostClick> ParseHostClick(const std::string& text);

class PropertiesWindow {
 public:
  // The window, hidden until Run; raises std::runtime_error when it cannot be made.
  PropertiesWindow();
  ~PropertiesWindow();
  PropertiesWindow(const PropertiesWindow&) = delete;
  PropertiesWindow& operator=(const PropertiesWindow&) = delete;

  // The window as the host's records hold it (32 bits), the parent GetDlgAddin is given.
  uint32_t Handle() const;
  // True when `page` is a child window of this one: the page can be hosted here. (A toolkit
  // without windows hands out ids that are no windows.)
  bool Hosts(uint32_t page) const;
  // Shows the window around the page, with `caption` on its tab, and runs its message loop until
  // OK is accepted (true) or the dialog is cancelled or closed (false).
  bool Run(uint32_t page, const std::string& caption, const PageCalls& calls, std::optional<HostClick> click);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ardmoor
