#pragma once
// The toolkit choice behind the extension export SkelderConfigureToolkit.
#include <memory>
#include <string>

#include "platform/toolkit.h"

namespace skelder::addin {

struct TToolkitOptions {
  bool AutoYes = false;        // "yes"
  bool IncludeLocked = false;  // "include-locked": the locked-files question answers Yes
  bool VirtualClock = false;   // "virtual-clock"
  std::string TranscriptPath;  // "transcript=PATH" (scripted backend only)
  std::string ScriptPath;      // any other item (scripted backend only)
};

// Items separated by ","; blanks around an item are dropped. Raises on a second script path.
TToolkitOptions ParseToolkitOptions(const std::string& options);

// Installs the backend ("terminal", "plain", "scripted") and the clock; raises, changing
// nothing, on an unknown backend or option or a script that cannot be read. On a terminal the
// locked-files question answers itself: Yes with "include-locked", No with "yes" alone (answering
// every question never publishes a file someone holds locked).
void ConfigureToolkit(const std::string& backend, const std::string& options);

std::unique_ptr<platform::Toolkit> MakeScriptedToolkit(const TToolkitOptions& options);

}  // namespace skelder::addin
