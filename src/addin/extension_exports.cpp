// Extension exports for hosts that reach the add-in only through its exports (ardmoor, tests,
// scripts): choose the toolkit backend with its options, and read how the last deployment
// ended. A host that does not know them gets the terminal backend and the real clock.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "addin/extension_options.h"
#include "deploy/f_deploy.h"
#include "platform/callconv.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/scripted_toolkit.h"
#include "platform/terminal_toolkit.h"
#include "platform/toolkit.h"

namespace skelder::addin {

namespace {

platform::VirtualClock& SharedVirtualClock() {
  static platform::VirtualClock clock;
  return clock;
}

// The scripted backend as a host without a test harness uses it: "yes" answers what the script
// leaves unanswered with Yes or OK and presses Enter on a form the script has no action for;
// the transcript goes to a file whenever the add-in is back at the host's level.
class HostScriptedToolkit : public platform::ScriptedToolkit {
 public:
  explicit HostScriptedToolkit(const TToolkitOptions& options) : options_(options) {
    if (!options.ScriptPath.empty()) LoadScriptFile(options.ScriptPath);
  }

  platform::MessageAnswer ShowMessageBox(const std::string& text, const std::string& caption,
                                         platform::MessageIcon icon, platform::MessageButtons buttons) override {
    if (options_.AutoYes && RemainingAnswers() == 0)
      Answer(buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::Yes : platform::MessageAnswer::Ok);
    auto answer = ScriptedToolkit::ShowMessageBox(text, caption, icon, buttons);
    WriteTranscript();
    return answer;
  }

  int ShowModal(platform::Form& form) override {
    if (options_.AutoYes && RemainingActions() == 0) Then(platform::ScriptAction::Enter());
    int result = ScriptedToolkit::ShowModal(form);
    WriteTranscript();
    return result;
  }

 private:
  void WriteTranscript() {
    if (options_.TranscriptPath.empty() || !ModalForms().empty()) return;
    std::string text = Transcript();
    std::FILE* f = std::fopen(options_.TranscriptPath.c_str(), "wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }

  TToolkitOptions options_;
};

}  // namespace

std::unique_ptr<platform::Toolkit> MakeScriptedToolkit(const TToolkitOptions& options) {
  return std::make_unique<HostScriptedToolkit>(options);
}

TToolkitOptions ParseToolkitOptions(const std::string& options) {
  TToolkitOptions parsed;
  size_t start = 0;
  while (start <= options.size()) {
    size_t end = options.find(',', start);
    if (end == std::string::npos) end = options.size();
    std::string item = options.substr(start, end - start);
    size_t b = item.find_first_not_of(" \t");
    size_t e = item.find_last_not_of(" \t");
    item = b == std::string::npos ? std::string() : item.substr(b, e - b + 1);
    if (item == "yes")
      parsed.AutoYes = true;
    else if (item == "virtual-clock")
      parsed.VirtualClock = true;
    else if (item.rfind("transcript=", 0) == 0)
      parsed.TranscriptPath = item.substr(11);
    else if (!item.empty()) {
      if (!parsed.ScriptPath.empty())
        throw skelder::Exception("More than one script file in the toolkit options: '" + item + "'");
      parsed.ScriptPath = item;
    }
    start = end + 1;
  }
  return parsed;
}

void ConfigureToolkit(const std::string& backend, const std::string& options) {
  TToolkitOptions parsed = ParseToolkitOptions(options);
  std::unique_ptr<platform::Toolkit> toolkit;
  if (backend == "terminal" || backend == "plain") {
    if (!parsed.ScriptPath.empty() || !parsed.TranscriptPath.empty())
      throw skelder::Exception("Unknown toolkit option '" + parsed.ScriptPath + parsed.TranscriptPath + "'");
    platform::TerminalOptions terminal;
    terminal.autoYes = parsed.AutoYes;
    toolkit = backend == "plain" ? platform::MakePlainToolkit(terminal)
                                 : std::make_unique<platform::TerminalToolkit>(terminal);
  } else if (backend == "scripted") {
    toolkit = MakeScriptedToolkit(parsed);
#ifdef _WIN32
  } else if (backend == "win32") {
    // Real windows for a person, or for a script played on them; nothing answers by itself.
    if (parsed.AutoYes || !parsed.TranscriptPath.empty())
      throw skelder::Exception("The win32 toolkit takes a script file and virtual-clock only");
    std::string script;
    if (!parsed.ScriptPath.empty()) {
      std::ifstream in(parsed.ScriptPath, std::ios::binary);
      if (!in) throw skelder::Exception("Cannot read the script " + parsed.ScriptPath);
      std::ostringstream text;
      text << in.rdbuf();
      script = text.str();
      // An empty script is still a script: its boxes take the safe answer.
      if (script.empty()) script = "\n";
    }
    toolkit = platform::MakeWin32Toolkit(script);
#endif
  } else {
    throw skelder::Exception("Unknown toolkit backend '" + backend + "'");
  }
  platform::SetToolkit(std::move(toolkit));
  platform::SetClock(parsed.VirtualClock ? &SharedVirtualClock() : nullptr);
}

}  // namespace skelder::addin

// Backend "terminal", "plain", "scripted" or (on Windows) "win32"; options separated by ",": "yes" answers Continue,
// the questions, the OK boxes and Done by themselves, "virtual-clock" makes the run's waits
// instant; for "scripted" "transcript=PATH" writes what was shown to PATH, and one more item
// names the script file (for "win32" too, played on the real windows). 1 when the backend was set;
// 0 (and nothing changed) for an unknown backend, option or an unreadable script.
SKELDER_EXPORT uint8_t SKELDER_STDCALL SkelderConfigureToolkit(const char* backend, const char* options) {
  try {
    skelder::addin::ConfigureToolkit(backend ? backend : "", options ? options : "");
    return 1;
  } catch (...) {
    return 0;
  }
}

// How the last deploy dialog ended: 0 not run (closed before Continue, or no dialog), 1
// succeeded, 2 failed, 3 cancelled.
SKELDER_EXPORT int32_t SKELDER_STDCALL SkelderLastOutcome() {
  try {
    return static_cast<int32_t>(skelder::deploy::LastDeployOutcome());
  } catch (...) {
    return 0;
  }
}
