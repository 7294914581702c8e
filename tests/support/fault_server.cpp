#include "fault_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace skelder::test {

namespace {

constexpr int kPollSliceMs = 20;  // how often blocked steps look at the stop flag

using Clock = std::chrono::steady_clock;

}  // namespace

// ---- session ---------------------------------------------------------------------------------

bool FaultSession::Send(const std::string& bytes) {
  size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

bool FaultSession::Fill(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (fd_ >= 0 && !server_.Stopping()) {
    if (limit.count() >= 0 && Clock::now() >= deadline) return false;
    pollfd p{fd_, POLLIN, 0};
    int rc = ::poll(&p, 1, kPollSliceMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return false;
    if (rc == 0) continue;
    char buffer[65536];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
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
  if (fd_ < 0) return;
  ::shutdown(fd_, SHUT_WR);
  ::close(fd_);
  fd_ = -1;
}

void FaultSession::Reset() {
  if (fd_ < 0) return;
  linger l{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd_);
  fd_ = -1;
}

void FaultSession::ShutdownWrite() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
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
    while (!s.server().Stopping() && !s.Closed()) {
      // Never blocked in a send: a client that stops reading must not keep Stop() waiting.
      pollfd p{s.fd(), POLLOUT, 0};
      if (::poll(&p, 1, kPollSliceMs) <= 0) continue;
      if (p.revents & (POLLERR | POLLHUP)) break;
      ssize_t n = ::send(s.fd(), block.data() + done, block.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
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

int ConnectFrom(const char* from, uint32_t ip, uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (from && (::inet_pton(AF_INET, from, &local.sin_addr) != 1 ||
               ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)) {
    ::close(fd);
    return -1;
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(ip);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int ConnectToPortLine(const std::string& line, const char* from) {
  unsigned h1, h2, h3, h4, p1, p2;
  if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6) return -1;
  return ConnectFrom(from, (h1 << 24) | (h2 << 16) | (h3 << 8) | h4, static_cast<uint16_t>(p1 * 256 + p2));
}

std::string Drain(int fd) {
  timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string all;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
  return all;
}

void ResetSocket(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

// ---- server ----------------------------------------------------------------------------------

FaultServer::FaultServer(std::vector<FaultScript> scripts, const std::string& host, uint16_t port)
    : scripts_(std::move(scripts)), host_(host) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("fault server: socket: " + std::string(std::strerror(errno)));
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
    ::close(listenFd_);
    throw std::runtime_error("fault server: bad host " + host);
  }
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0) {
    std::string reason = std::strerror(errno);
    ::close(listenFd_);
    throw std::runtime_error("fault server: cannot listen on " + host + ": " + reason);
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  data_.resize(scripts_.size());
  thread_ = std::thread([this] { Run(); });
}

FaultServer::~FaultServer() { Stop(); }

void FaultServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
  }
}

void FaultServer::Run() {
  for (size_t i = 0; i < scripts_.size() && !stop_; ++i) {
    int fd = -1;
    while (!stop_ && fd < 0) {
      pollfd p{listenFd_, POLLIN, 0};
      if (::poll(&p, 1, kPollSliceMs) <= 0) continue;
      fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (fd < 0) break;
    ++accepted_;
    FaultSession session(*this, fd, static_cast<int>(i));
    for (const FaultStep& step : scripts_[i].steps()) {
      if (stop_ || session.Closed() || !step(session)) break;
    }
    session.Close();
  }
  // Later connections are refused rather than left hanging in the backlog.
  if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
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
