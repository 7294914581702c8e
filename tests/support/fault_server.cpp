#include "fault_server.h"

#include <cstdio>
#include <stdexcept>

namespace skelder::test {

namespace {

constexpr int kPollSliceMs = 20;  // how often blocked steps look at the stop flag

using Clock = std::chrono::steady_clock;

}  // namespace

// ---- session ---------------------------------------------------------------------------------

bool FaultSession::Send(const std::string& bytes) { return !Closed() && SendAll(fd_, bytes); }

TestSocket FaultSession::Detach() {
  const TestSocket fd = fd_;
  fd_ = kNoTestSocket;
  return fd;
}

bool FaultSession::Fill(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!Closed() && !server_.Stopping()) {
    if (limit.count() >= 0 && Clock::now() >= deadline) return false;
    const int rc = WaitForSocket(fd_, false, kPollSliceMs);
    if (rc < 0) return false;
    if (rc == 0) continue;
    char buffer[65536];
    const long n = ReceiveSome(fd_, buffer, sizeof buffer);
    if (n < 0 && LastCallInterrupted()) continue;
    if (n <= 0) return false;
    std::string bytes(buffer, static_cast<size_t>(n));
    server_.RecordData(index_, bytes);
    pending_ += bytes;
    return true;
  }
  return false;
}

std::optional<std::string> FaultSession::ReadLine(std::chrono::milliseconds limit) {
  while (true) {
    size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      std::string line = pending_.substr(0, lf);
      pending_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      server_.RecordLine(line);
      return line;
    }
    if (!Fill(limit)) return std::nullopt;
  }
}

std::string FaultSession::ReadUntilClose() {
  while (Fill(std::chrono::milliseconds(-1))) {
  }
  std::string all;
  all.swap(pending_);
  return all;
}

void FaultSession::Stall() {
  while (Fill(std::chrono::milliseconds(-1))) {
  }
}

void FaultSession::Close() {
  if (Closed()) return;
  ShutdownSending(fd_);
  CloseSocket(Detach());
}

void FaultSession::Reset() {
  if (!Closed()) ResetSocket(Detach());
}

void FaultSession::ShutdownWrite() {
  if (!Closed()) ShutdownSending(fd_);
}

// ---- script ----------------------------------------------------------------------------------

FaultScript& FaultScript::Send(std::string bytes) {
  return Custom([bytes = std::move(bytes)](FaultSession& s) { return s.Send(bytes); });
}

FaultScript& FaultScript::SendSlowly(std::string bytes, size_t piece, std::chrono::milliseconds pause) {
  return Custom([bytes = std::move(bytes), piece, pause](FaultSession& s) {
    for (size_t i = 0; i < bytes.size(); i += piece) {
      if (!s.Send(bytes.substr(i, piece))) return false;
      std::this_thread::sleep_for(pause);
    }
    return true;
  });
}

FaultScript& FaultScript::SendForever(std::string unit, std::chrono::milliseconds pause) {
  return Custom([unit = std::move(unit), pause](FaultSession& s) {
    // Big writes at full speed; one unit at a time when paced.
    std::string block = unit;
    if (pause.count() == 0)
      while (block.size() < 64 * 1024) block += unit;
    size_t done = 0;
    // Never blocked in a send: a client that stops reading must not keep Stop() waiting.
    SetNonBlocking(s.fd(), true);
    while (!s.server().Stopping() && !s.Closed()) {
      const int rc = WaitForSocket(s.fd(), true, kPollSliceMs);
      if (rc < 0) break;
      if (rc == 0) continue;
      const long n = SendSome(s.fd(), block.data() + done, block.size() - done);
      if (n < 0 && (LastCallInterrupted() || LastCallWouldBlock())) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
      if (done == block.size()) {
        done = 0;
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
      }
    }
    return false;
  });
}

FaultScript& FaultScript::ExpectLine(std::optional<std::string> expected) {
  return Custom([expected = std::move(expected)](FaultSession& s) {
    std::optional<std::string> line = s.ReadLine();
    if (!line) {
      if (expected) s.server().RecordFailure("expected \"" + *expected + "\", got end of connection");
      return false;
    }
    if (expected && *line != *expected)
      s.server().RecordFailure("expected \"" + *expected + "\", got \"" + *line + "\"");
    return true;
  });
}

FaultScript& FaultScript::ExpectLineStartingWith(std::string prefix) {
  return Custom([prefix = std::move(prefix)](FaultSession& s) {
    while (true) {
      std::optional<std::string> line = s.ReadLine();
      if (!line) {
        s.server().RecordFailure("expected a line starting \"" + prefix + "\", got end of connection");
        return false;
      }
      if (line->rfind(prefix, 0) == 0) return true;
    }
  });
}

FaultScript& FaultScript::ReadUntilClose() {
  return Custom([](FaultSession& s) {
    s.ReadUntilClose();
    return true;
  });
}

FaultScript& FaultScript::Sleep(std::chrono::milliseconds pause) {
  return Custom([pause](FaultSession& s) {
    const auto end = Clock::now() + pause;
    while (Clock::now() < end && !s.server().Stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
  });
}

FaultScript& FaultScript::Stall() {
  return Custom([](FaultSession& s) {
    s.Stall();
    return true;
  });
}

FaultScript& FaultScript::Close() {
  return Custom([](FaultSession& s) {
    s.Close();
    return false;
  });
}

FaultScript& FaultScript::Reset() {
  return Custom([](FaultSession& s) {
    s.Reset();
    return false;
  });
}

FaultScript& FaultScript::ShutdownWrite() {
  return Custom([](FaultSession& s) {
    s.ShutdownWrite();
    return true;
  });
}

FaultScript& FaultScript::Custom(FaultStep step) {
  steps_.push_back(std::move(step));
  return *this;
}

// ---- socket helpers --------------------------------------------------------------------------

TestSocket ConnectFrom(const char* from, uint32_t ip, uint16_t port) {
  TestSocket fd = OpenTcpSocket();
  if (fd == kNoTestSocket) return fd;
  if ((from && !BindSocket(fd, from, 0)) || !ConnectSocket(fd, FormatIPv4(ip), port)) {
    CloseSocket(fd);
    return kNoTestSocket;
  }
  return fd;
}

TestSocket ConnectToPortLine(const std::string& line, const char* from) {
  unsigned h1, h2, h3, h4, p1, p2;
  if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6) return kNoTestSocket;
  return ConnectFrom(from, (h1 << 24) | (h2 << 16) | (h3 << 8) | h4, static_cast<uint16_t>(p1 * 256 + p2));
}

std::string Drain(TestSocket fd) {
  SetReceiveTimeout(fd, 5000);
  std::string all;
  char buffer[65536];
  long n;
  while ((n = ReceiveSome(fd, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
  return all;
}

// ---- server ----------------------------------------------------------------------------------

FaultServer::FaultServer(std::vector<FaultScript> scripts, const std::string& host, uint16_t port)
    : scripts_(std::move(scripts)), host_(host) {
  if (ParseIPv4(host) == 0) throw std::runtime_error("fault server: bad host " + host);
  listenFd_ = OpenTcpSocket();
  if (listenFd_ == kNoTestSocket) throw std::runtime_error("fault server: socket: " + LastSocketErrorText());
  if (!BindSocket(listenFd_, host, port, true) || !ListenOnSocket(listenFd_, 16)) {
    const std::string reason = LastSocketErrorText();
    CloseSocket(listenFd_);
    throw std::runtime_error("fault server: cannot listen on " + host + ": " + reason);
  }
  port_ = LocalPortOf(listenFd_);
  data_.resize(scripts_.size());
  thread_ = std::thread([this] { Run(); });
}

FaultServer::~FaultServer() { Stop(); }

void FaultServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  CloseSocket(listenFd_);
  listenFd_ = kNoTestSocket;
}

void FaultServer::Run() {
  for (size_t i = 0; i < scripts_.size() && !stop_; ++i) {
    TestSocket fd = kNoTestSocket;
    while (!stop_ && fd == kNoTestSocket) {
      if (WaitForSocket(listenFd_, false, kPollSliceMs) <= 0) continue;
      fd = AcceptOn(listenFd_);
    }
    if (fd == kNoTestSocket) break;
    ++accepted_;
    FaultSession session(*this, fd, static_cast<int>(i));
    for (const FaultStep& step : scripts_[i].steps()) {
      if (stop_ || session.Closed() || !step(session)) break;
    }
    session.Close();
  }
  // Later connections are refused rather than left hanging in the backlog. Only this thread
  // uses the listener until Stop() has joined it.
  CloseSocket(listenFd_);
  listenFd_ = kNoTestSocket;
  done_ = true;
}

std::vector<std::string> FaultServer::ReceivedLines() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return lines_;
}

std::string FaultServer::ReceivedData(int index) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return index >= 0 && static_cast<size_t>(index) < data_.size() ? data_[static_cast<size_t>(index)] : std::string();
}

std::vector<std::string> FaultServer::Failures() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return failures_;
}

bool FaultServer::WaitDone(std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done_ && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done_;
}

bool FaultServer::WaitForLines(size_t count, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (lines_.size() >= count) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void FaultServer::RecordLine(const std::string& line) {
  std::lock_guard<std::mutex> guard(mutex_);
  lines_.push_back(line);
}

void FaultServer::RecordData(int index, const std::string& bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (index >= 0 && static_cast<size_t>(index) < data_.size()) data_[static_cast<size_t>(index)] += bytes;
}

void FaultServer::RecordFailure(const std::string& failure) {
  std::lock_guard<std::mutex> guard(mutex_);
  failures_.push_back(failure);
}

}  // namespace skelder::test
