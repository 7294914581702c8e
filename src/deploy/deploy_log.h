#pragma once
// The deployment log, "Skelder.log" beside the add-in: one per installation, renewed by every
// run, lines ended by CR LF.
#include <cstdio>
#include <string>

namespace skelder::deploy {

// The module path with its extension replaced by ".log".
std::string LogFileName();
// Appends the text and CR LF, creating the file first. Never fails its caller: a line that
// cannot be written is dropped.
void AppendToLog(const std::string& path, const std::string& text);

// A log kept open from one line to the next, for a run that writes thousands of them. Each line
// reaches the system whole before Append returns, so what was logged survives a crash of the
// process and the file can be read while the run goes on. Like AppendToLog it never fails its
// caller. Close it before deleting the file.
class TLogWriter {
 public:
  TLogWriter() = default;
  TLogWriter(const TLogWriter&) = delete;
  TLogWriter& operator=(const TLogWriter&) = delete;
  ~TLogWriter() { Close(); }

  void Append(const std::string& path, const std::string& text);
  void Close();

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace skelder::deploy
