#pragma once
// An optional component a connection calls at connect, disconnect, receive and send; it may
// change the data passing through. Intercepts can be chained.
#include <functional>
#include <string>

#include "net/net_component.h"

namespace skelder::net {

class TNetConnectionIntercept : public TNetComponent {
 public:
  using TNetComponent::TNetComponent;
  ~TNetConnectionIntercept() override = default;

  TNetComponent* Connection() const { return connection_; }
  TNetConnectionIntercept* Intercept() const { return intercept_; }
  // The chained intercept is borrowed; it is forgotten when it is destroyed.
  void SetIntercept(TNetConnectionIntercept* intercept);

  std::function<void(TNetConnectionIntercept* ASender)> OnConnect;
  std::function<void(TNetConnectionIntercept* ASender)> OnDisconnect;
  std::function<void(TNetConnectionIntercept* ASender, std::string& AData)> OnReceive;
  std::function<void(TNetConnectionIntercept* ASender, std::string& AData)> OnSend;

  virtual void ChainedConnect(TNetComponent* connection);
  virtual void ChainedDisconnect();
  virtual void ChainedReceive(std::string& data);
  virtual void ChainedSend(std::string& data);
  virtual void Connect(TNetComponent* connection);
  virtual void Disconnect();
  virtual void Receive(std::string& data);
  virtual void Send(std::string& data);

 protected:
  void Notification(TNetBaseComponent* component) override;

 private:
  TNetComponent* connection_ = nullptr;
  TNetConnectionIntercept* intercept_ = nullptr;
};

}  // namespace skelder::net
