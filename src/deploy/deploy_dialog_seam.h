#pragma once
// The hand-off from the Deploy command to the deploy dialog: the dialog itself, unless a test has
// put a function of its own in its place.
#include <functional>
#include <string>

#include "deploy/file_lists.h"

namespace skelder::deploy {

// Runs the dialog modally; the lists are borrowed and must not be changed. `notes` are the
// folder's notes, for the settings beside DeployTo (FtpPassive).
using TShowDeployDialog =
    std::function<void(const std::string& caption, const std::string& deployTo, const TFileList& files,
                       const TFolderList& folders, const std::string& notes)>;

// An empty function puts the dialog back.
void SetShowDeployDialog(TShowDeployDialog show);
void ShowDeployDialog(const std::string& caption, const std::string& deployTo, const TFileList& files,
                      const TFolderList& folders, const std::string& notes = {});

// While a capture path is set, the hand-off writes the lists to that file instead of showing
// anything, so a host that only knows the exports can see what a command collected. An empty
// path turns the capture off.
void SetDeployListsCapture(const std::string& path);

// The lists as text, one line per item: the caption, each location (passwords masked), each
// folder with its id and each file with its shown name and ids.
std::string DescribeDeployLists(const std::string& caption, const std::string& deployTo, const TFileList& files,
                                const TFolderList& folders);

}  // namespace skelder::deploy
