#include "deploy/deploy_log.h"

#include "platform/file_names.h"
#include "platform/files.h"

namespace skelder::deploy {

std::string LogFileName() { return platform::ChangeFileExt(platform::ModuleFileName(), ".log"); }

void AppendToLog(const std::string& path, const std::string& text) {
  TLogWriter log;
  log.Append(path, text);
}

void TLogWriter::Append(const std::string& path, const std::string& text) {
  try {
    if (file_ && path != path_) Close();
    if (!file_) {
      file_ = std::fopen(path.c_str(), "ab");
      if (!file_) return;
      path_ = path;
    }
    // One buffer per line, flushed at once: the line goes out in one write.
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
      // A full disk or a vanished share: start afresh with the next line.
      Close();
    }
  } catch (...) {
    // The log is a courtesy; losing a line must never stop a deployment.
  }
}

void TLogWriter::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  path_.clear();
}

}  // namespace skelder::deploy
