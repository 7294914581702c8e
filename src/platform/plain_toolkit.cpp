// The backends a command-line host gets: the terminal backend by default, and its plain form
// (no live panel, no colours, whatever the output is) for hosts that log what they show.
#include <memory>

#include "platform/terminal_toolkit.h"
#include "platform/toolkit.h"

namespace skelder::platform {

std::unique_ptr<Toolkit> MakePlainToolkit(TerminalOptions options) {
  options.tty = false;
  options.color = false;
  options.name = "plain";
  return std::make_unique<TerminalToolkit>(options);
}

#ifdef _WIN32
// A host that knows nothing of the extension exports gets real windows, as the real host does.
std::unique_ptr<Toolkit> MakeDefaultToolkit() { return MakeWin32Toolkit(); }
#else
std::unique_ptr<Toolkit> MakeDefaultToolkit() { return std::make_unique<TerminalToolkit>(); }
#endif

}  // namespace skelder::platform
