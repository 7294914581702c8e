#pragma once
// The files that travel together with a source file: the file itself and its file group as the
// host names it.
#include <string>
#include <vector>

namespace skelder::deploy {

// The extension of a path's last component, with its dot; empty when it has none.

// The files to send for a changed source file, in the order of the host's extensions (the
// source's own extension when the host cannot tell): the source itself always, under its exact
// name, also when it has no extension or one the group lacks (then first); each companion under
// the name it really has in the folder, found in any letter case of its extension but with the
// source's base name exactly. Extensions holding a separator are passed over: they would name a
// file outside the source's folder. A source that is not a regular file (missing from the
// check-out folder) gives no files, and *missing says why, so it is never recorded as sent.
std::vector<std::string> FileGroupCandidates(const std::string& source, std::string* missing);

}  // namespace skelder::deploy
