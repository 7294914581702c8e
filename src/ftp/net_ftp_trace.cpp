#include "ftp/net_ftp_trace.h"

#include "ftp/net_ftp_list.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/ascii.h"

namespace skelder::ftp {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Appends `c` as the trace shows it.
void AppendShown(std::string& out, unsigned char c) {
  switch (c) {
    case '\r':
      out += "\\r";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\\':
      out += "\\\\";
      return;
    default:
      break;
  }
  if (c < 0x20 || c == 0x7F) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
    return;
  }
  out += static_cast<char>(c);
}

void Pad(std::string& out, int64_t value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) out.append(static_cast<size_t>(width) - digits.size(), '0');
  out += digits;
}

}  // namespace

TNetFtpTrace::~TNetFtpTrace() { Close(); }

bool TNetFtpTrace::Open(const std::string& fileName, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  enabled_.store(false, std::memory_order_release);
  problem.clear();
  if (fileName.empty()) {
    problem = "no file name";
    return false;
  }
  errno = 0;
  // Appending: the trace of an earlier run stays, whoever wrote it.
  file_ = std::fopen(fileName.c_str(), "ab");
  if (!file_) {
    problem = errno != 0 ? std::strerror(errno) : "it cannot be opened";
    return false;
  }
  enabled_.store(true, std::memory_order_release);
  return true;
}

void TNetFtpTrace::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_.store(false, std::memory_order_release);
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

int32_t TNetFtpTrace::NewSession() {
  static std::atomic<int32_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

void TNetFtpTrace::Sent(int32_t session, std::string_view command) {
  if (Enabled()) Write(session, "> ", MaskedCommand(command));
}

void TNetFtpTrace::Received(int32_t session, std::string_view line) {
  if (Enabled()) Write(session, "< ", line);
}

void TNetFtpTrace::Note(int32_t session, std::string_view text) {
  if (Enabled()) Write(session, "* ", text);
}

void TNetFtpTrace::Write(int32_t session, std::string_view marker, std::string_view text) {
  try {
    const int64_t now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::string line = TraceTimeStamp(now);
    line += " [";
    line += std::to_string(session);
    line += "] ";
    line += marker;
    line += TraceLineText(text);
    line += "\r\n";
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return;
    // One write per line, flushed at once: lines of sessions on other threads never interleave,
    // and a run that ends abruptly keeps what it traced.
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
      // A full disk: the trace stops rather than writing half lines.
      std::fclose(file_);
      file_ = nullptr;
      enabled_.store(false, std::memory_order_release);
    }
  } catch (...) {
    // The trace is a diagnosis aid: losing a line never fails a transfer.
  }
}

TNetFtpTrace& Trace() {
  // Never destroyed: sessions of other threads may still trace while the process ends.
  static auto* trace = new TNetFtpTrace;
  return *trace;
}

std::string MaskedCommand(std::string_view command) {
  if (command.size() >= 4 && platform::EqualsIgnoringAsciiCase(command.substr(0, 4), "PASS") &&
      (command.size() == 4 || command[4] == ' '))
    return std::string(command.substr(0, 4)) + " ****";
  return std::string(command);
}

std::string TraceLineText(std::string_view text) {
  std::string out;
  out.reserve(std::min(text.size(), kMaxTraceLineBytes) + 16);
  size_t used = 0;
  for (; used < text.size(); ++used) {
    const size_t before = out.size();
    AppendShown(out, static_cast<unsigned char>(text[used]));
    if (out.size() > kMaxTraceLineBytes) {
      out.resize(before);
      break;
    }
  }
  if (used < text.size()) out += " [... cut: " + std::to_string(text.size()) + " bytes in all]";
  return out;
}

std::string TraceMessage(std::string_view message) {
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.remove_suffix(1);
  std::string out;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
    if (message[i] == '\n')
      out += " | ";
    else
      out += message[i];
  }
  return out;
}

std::string TraceTimeStamp(int64_t unixMs) {
  const int64_t days = unixMs >= 0 ? unixMs / 86400000 : (unixMs - 86399999) / 86400000;
  const int64_t msOfDay = unixMs - days * 86400000;
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  std::string out;
  Pad(out, year, 4);
  out += '-';
  Pad(out, month, 2);
  out += '-';
  Pad(out, day, 2);
  out += ' ';
  Pad(out, msOfDay / 3600000, 2);
  out += ':';
  Pad(out, msOfDay / 60000 % 60, 2);
  out += ':';
  Pad(out, msOfDay / 1000 % 60, 2);
  out += '.';
  Pad(out, msOfDay % 1000, 3);
  return out;
}

}  // namespace skelder::ftp
