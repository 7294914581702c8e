#include "ftp/net_tcp_client.h"

#include <chrono>

#include "net/net_stack.h"

namespace skelder::ftp {

void TNetTCPClient::NotifyConnected() {
  if (OnConnected) OnConnected(this);
}

void TNetTCPClient::OpenConnection(int32_t timeoutMs) {
  if (IOHandler() == nullptr) {
    auto handler = std::make_unique<TNetIOHandlerSocket>(this);
    handler->OnStatus = OnStatus;
    AdoptIOHandler(std::move(handler));
  } else if (IOHandler()->HandleConnected()) {
    throw ENetAlreadyConnected();
  }
  try {
    IOHandler()->PrepareHandle();
    ResetInput();
    IOHandler()->ConnectTo(Host(), Port(), BoundIP, BoundPort, BoundPortMin, BoundPortMax, timeoutMs);
    if (Intercept() != nullptr) Intercept()->Connect(this);
    ReportStatus(net::stConnected, Host());
    NotifyConnected();
  } catch (net::ENetException& e) {
    // "Connection refused." alone does not say to what.
    if (dynamic_cast<net::ENetSocketError*>(&e) || dynamic_cast<ENetConnectException*>(&e) ||
        dynamic_cast<ENetConnectTimeout*>(&e))
      e.AddPlace((PlaceName.empty() ? std::string() : PlaceName + ", ") + Host() + ":" + std::to_string(Port()));
    DropQuietly();
    throw;
  } catch (...) {
    DropQuietly();
    throw;
  }
}

void TNetTCPClient::DropQuietly() {
  try {
    DropSocket();
  } catch (...) {
  }
}

std::string TNetTCPClient::ConnectAndReadAll() {
  try {
    OpenConnection(-1);
    std::string result = ReadAll();
    CloseConnection();
    return result;
  } catch (...) {
    CloseConnection();
    throw;
  }
}

TNetConnectThread::TNetConnectThread(net::TNetSocketHandle& binding) : binding_(binding) {
  thread_ = std::thread([this] { Run(); });
}

TNetConnectThread::~TNetConnectThread() { Join(); }

void TNetConnectThread::Run() {
  std::string error;
  try {
    net::TNetStack& stack = net::ProcessStack();
    // A socket closed under the connect gives 10009 or 10038: that is the stop, not an error.
    stack.CheckSocketResult(binding_.ConnectPeer(net::kAfInet), {net::kErrBadFile, net::kErrNotSocket});
  } catch (const std::exception& e) {
    if (!terminated_) error = e.what();
  }
  std::lock_guard<std::mutex> guard(mutex_);
  errorText_ = error;
  finished_ = true;
  done_.notify_all();
}

bool TNetConnectThread::WaitFinished(int32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return done_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs), [this] { return finished_; });
}

bool TNetConnectThread::Finished() {
  std::lock_guard<std::mutex> guard(mutex_);
  return finished_;
}

void TNetConnectThread::Join() {
  if (thread_.joinable()) thread_.join();
}

std::string TNetConnectThread::ErrorText() {
  std::lock_guard<std::mutex> guard(mutex_);
  return errorText_;
}

}  // namespace skelder::ftp
