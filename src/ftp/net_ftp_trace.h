#pragma once
// The FTP trace: an opt-in record of whole FTP conversations in a file of its own (never the
// deployment log). Each line carries a UTC time stamp with milliseconds and the number of the
// session it belongs to, then what happened:
//
//   2026-12-08 15:44:22.123 [3] > USER bob        a command sent ("PASS ****" for a password)
//   2026-12-08 15:44:22.125 [3] < 331 Password    a reply line received
//   2026-12-08 15:44:22.126 [3] * Connected ...   anything else: connects, data connections,
//                                                 disconnects, errors, notes of other layers
//
// Several sessions may run at once on several threads: every line is written whole, under one
// lock, in one write. A line longer than kMaxTraceLineBytes is cut with a mark; control bytes are
// shown escaped so that one event is always one line.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace skelder::ftp {

// The text of one line at most (the time stamp and session number aside).
inline constexpr size_t kMaxTraceLineBytes = 4096;

class TNetFtpTrace {
 public:
  TNetFtpTrace() = default;
  ~TNetFtpTrace();
  TNetFtpTrace(const TNetFtpTrace&) = delete;
  TNetFtpTrace& operator=(const TNetFtpTrace&) = delete;

  // Starts writing to `fileName`, appended to what it holds (another run's trace stays). False,
  // with the reason, when it cannot be opened; the trace then stays off.
  bool Open(const std::string& fileName, std::string& problem);
  void Close();
  bool Enabled() const { return enabled_.load(std::memory_order_acquire); }

  // A new session number, unique in the process (1, 2, ...), whether or not the trace is on.
  static int32_t NewSession();

  // A command as sent; a password in it is masked.
  void Sent(int32_t session, std::string_view command);
  // A reply line as received.
  void Received(int32_t session, std::string_view line);
  // Anything else worth a line: "TLS handshake: TLSv1.3 ...", "Data connection ...".
  void Note(int32_t session, std::string_view text);

 private:
  void Write(int32_t session, std::string_view marker, std::string_view text);

  std::atomic<bool> enabled_{false};
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

// The process's trace; off until opened.
TNetFtpTrace& Trace();

// The command as the trace shows it: the argument of "PASS" (in any letter case) replaced by
// "****", whatever it holds (a proxy log-in sends "PASS password@proxypassword").
std::string MaskedCommand(std::string_view command);
// One trace line's text: control bytes escaped (\r, \n, \t, \xNN), cut to kMaxTraceLineBytes
// with a mark that says how long it was.
std::string TraceLineText(std::string_view text);
// An error's message on one line: its line ends dropped at the end and " | " between its lines.
std::string TraceMessage(std::string_view message);
// "2026-12-08 15:44:22.123": UTC, from milliseconds since 1970.
std::string TraceTimeStamp(int64_t unixMs);

}  // namespace skelder::ftp
