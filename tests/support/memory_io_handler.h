#pragma once
// An I/O handler that serves fixed bytes in pieces of a chosen size and then reports the peer
// closed, or, when given an endless part, serves that part again and again for ever; what is
// sent is collected. For the fuzz targets, which must not need sockets.
#include <algorithm>
#include <cstring>
#include <string>

#include "ftp/net_io_handler_socket.h"

namespace skelder::test {

class MemoryIOHandler : public ftp::TNetIOHandler {
 public:
  MemoryIOHandler(std::string input, size_t piece, std::string endless = {})
      : input_(std::move(input)), piece_(std::max<size_t>(piece, 1)), endless_(std::move(endless)) {}

  void CloseBinding() override { open_ = false; }
  void ConnectTo(const std::string&, int32_t, const std::string&, int32_t, int32_t, int32_t, int32_t) override {
    open_ = true;
  }
  bool HandleConnected() override { return open_; }
  void PrepareHandle() override {}
  bool WaitReadable(int32_t) override { return true; }  // data, or the end of it
  int ReceiveInto(void* buffer, int length) override {
    if (position_ == input_.size() && !endless_.empty()) {
      input_ = endless_;
      position_ = 0;
      served_ += input_.size();
    }
    size_t n = std::min({piece_, static_cast<size_t>(length), input_.size() - position_});
    std::memcpy(buffer, input_.data() + position_, n);
    position_ += n;
    return static_cast<int>(n);
  }
  int SendFrom(const void* buffer, int length) override {
    sent.append(static_cast<const char*>(buffer), static_cast<size_t>(length));
    return length;
  }

  std::string sent;
  // Bytes of the endless part handed out so far (counted a whole part at a time).
  size_t served() const { return served_; }

 private:
  std::string input_;
  size_t piece_;
  size_t position_ = 0;
  bool open_ = true;
  std::string endless_;
  size_t served_ = 0;
};

}  // namespace skelder::test
