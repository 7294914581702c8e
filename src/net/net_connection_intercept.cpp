#include "net/net_connection_intercept.h"

namespace skelder::net {

void TNetConnectionIntercept::SetIntercept(TNetConnectionIntercept* intercept) {
  if (intercept_ != nullptr) intercept_->RemoveFreeNotification(this);
  intercept_ = intercept;
  if (intercept_ != nullptr) intercept_->FreeNotification(this);
}

void TNetConnectionIntercept::Notification(TNetBaseComponent* component) {
  if (component == intercept_) intercept_ = nullptr;
}

void TNetConnectionIntercept::ChainedConnect(TNetComponent* connection) {
  if (intercept_ != nullptr) intercept_->Connect(connection);
}
void TNetConnectionIntercept::ChainedDisconnect() {
  if (intercept_ != nullptr) intercept_->Disconnect();
}
void TNetConnectionIntercept::ChainedReceive(std::string& data) {
  if (intercept_ != nullptr) intercept_->Receive(data);
}
void TNetConnectionIntercept::ChainedSend(std::string& data) {
  if (intercept_ != nullptr) intercept_->Send(data);
}

void TNetConnectionIntercept::Connect(TNetComponent* connection) {
  connection_ = connection;
  if (OnConnect) OnConnect(this);
  ChainedConnect(connection);
}

void TNetConnectionIntercept::Disconnect() {
  ChainedDisconnect();
  if (OnDisconnect) OnDisconnect(this);
  connection_ = nullptr;
}

void TNetConnectionIntercept::Receive(std::string& data) {
  ChainedReceive(data);
  if (OnReceive) OnReceive(this, data);
}

void TNetConnectionIntercept::Send(std::string& data) {
  if (OnSend) OnSend(this, data);
  ChainedSend(data);
}

}  // namespace skelder::net
