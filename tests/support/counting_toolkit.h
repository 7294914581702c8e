#pragma once
// A toolkit for responsiveness tests: counts message-processing turns and runs a handler at
// each, so a test can act "from the user interface" in the middle of a blocked network call.
#include <functional>
#include <memory>
#include <string>

#include "platform/toolkit.h"

namespace skelder::test {

class CountingToolkit : public platform::Toolkit {
 public:
  std::string Name() const override { return "counting"; }
  platform::MessageAnswer ShowMessageBox(const std::string&, const std::string&, platform::MessageIcon,
                                         platform::MessageButtons) override {
    return platform::MessageAnswer::Ok;
  }
  void Beep(platform::BeepKind) override {}
  platform::Cursor GetCursor() override { return cursor_; }
  void SetCursor(platform::Cursor cursor) override { cursor_ = cursor; }
  void NudgeMouse() override {}
  int ShowModal(platform::Form&) override { return 0; }
  void Repaint(platform::Form&) override {}
  void ProcessMessages() override {
    ++turns;
    if (onTurn) onTurn(turns);
  }

  int turns = 0;
  std::function<void(int turn)> onTurn;

 private:
  platform::Cursor cursor_ = platform::Cursor::Default;
};

// Installs a CountingToolkit for the scope and puts the platform's default back afterwards.
class ScopedCountingToolkit {
 public:
  ScopedCountingToolkit() {
    auto toolkit = std::make_unique<CountingToolkit>();
    toolkit_ = toolkit.get();
    platform::SetToolkit(std::move(toolkit));
  }
  ~ScopedCountingToolkit() { platform::SetToolkit(nullptr); }
  ScopedCountingToolkit(const ScopedCountingToolkit&) = delete;
  ScopedCountingToolkit& operator=(const ScopedCountingToolkit&) = delete;
  CountingToolkit& operator*() { return *toolkit_; }
  CountingToolkit* operator->() { return toolkit_; }

 private:
  CountingToolkit* toolkit_;
};

}  // namespace skelder::test
