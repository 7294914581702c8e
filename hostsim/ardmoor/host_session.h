#pragma once
// ardmoor as the add-in's host: the add-in's exports looked up by name, the start and end calls
// a host makes, the menu it builds from the menu interface, the selection and the menu action,
// the folder properties dialog around the add-in's page, and installing and uninstalling.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "properties_window.h"

namespace ardmoor {

// How ardmoor runs the folder properties dialog.
struct PropertiesOptions {
  // A click on the dialog's own OK or Cancel (Windows, where the dialog is a window of ardmoor's).
  std::optional<HostClick> click;
};

class HostSession {
 public:
  // Resolves the exports of the loaded add-in; raises std::runtime_error when one is missing.
  // Starts the session: VcsInitEventAddin, then GetAddinInfo (which opens the menu interface).
  explicit HostSession(void* addin);
  // Ends it: ReleaseVcsAddin.
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  const std::string& HandlerName() const { return handler_; }
  const std::string& AddinName() const { return name_; }
  const std::string& AddinDescription() const { return description_; }

  // The menus as the add-in describes them, one item a line, with each action's state for the
  // current selection.
  void PrintMenu(std::ostream& out);
  // A kind-1 selection of the object.
  void Select(int32_t objectId);
  // MTActionStatus: whether the action is offered enabled.
  bool ActionEnabled(int32_t actionId);
  bool Execute(int32_t actionId);

  // The folder properties dialog (id 1006) with the add-in's page, opened on `notes`: on Windows
  // a window of ardmoor's own that holds the page's window, otherwise (or when the page has no
  // window) shown through the add-in's toolkit; on save validated and collected from the notes
  // `current` gives at that moment. The collected notes, or none when the user cancelled or the
  // add-in offers no page.
  std::optional<std::string> EditProperties(int32_t folderId, const std::string& notes,
                                            const std::function<std::string()>& current, std::ostream& out,
                                            const PropertiesOptions& options = {});

  void Installed();
  void Uninstalled();

 private:
  template <typename Fn>
  Fn Get(const char* name);

  void* addin_;
  std::string handler_, name_, description_;
};

// Deploy Folder's action id in the add-in's menu.
inline constexpr int32_t kDeployActionId = 10001;

}  // namespace ardmoor

namespace skelder::hostsim {
class Repository;
}

namespace ardmoor {

// The subcommands that drive the add-in as a host; each returns ardmoor's exit status.
int MenuCommand(void* addin, std::optional<int32_t> selectedFolder);
int PropertiesCommand(skelder::hostsim::Repository& repo, int32_t folderId, void* addin,
                      const PropertiesOptions& options = {});
int InstallCommand(void* addin, bool install);

}  // namespace ardmoor
