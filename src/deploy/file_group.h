#pragma once
// The files that travel together with a source file: its file group as the host names it.
#include <string>
#include <vector>

namespace skelder::deploy {

// The extension of a path's last component, with its dot; empty when it has none.
std::string ExtractFileExt(const std::string& path);

// The files of the source's file group that exist, in the order of the host's extensions (the
// source's own extension when the host cannot tell). Extensions holding a separator are passed
// over: they would name a file outside the source's folder.
std::vector<std::string> FileGroupCandidates(const std::string& source);

}  // namespace skelder::deploy
