#include "net/net_component.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "net/net_exception.h"
#include "net/net_stack.h"

namespace skelder::net {

namespace {

// Guards the component count and the creation and freeing of the stack.
std::mutex& StackLock() {
  static std::mutex lock;
  return lock;
}
int32_t g_componentCount = 0;
std::unique_ptr<TNetStack> g_stack;

void Erase(std::vector<TNetBaseComponent*>& list, TNetBaseComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

TNetBaseComponent::~TNetBaseComponent() {
  // Tell everyone who borrowed this component, then forget the ones this one watched.
  std::vector<TNetBaseComponent*> notify = notify_;
  for (TNetBaseComponent* other : notify) {
    Erase(other->watching_, this);
    other->Notification(this);
  }
  for (TNetBaseComponent* other : watching_) Erase(other->notify_, this);
}

void TNetBaseComponent::FreeNotification(TNetBaseComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(notify_.begin(), notify_.end(), other) == notify_.end()) {
    notify_.push_back(other);
    other->watching_.push_back(this);
  }
}

void TNetBaseComponent::RemoveFreeNotification(TNetBaseComponent* other) {
  if (other == nullptr) return;
  Unlink(other);
}

void TNetBaseComponent::Unlink(TNetBaseComponent* other) {
  Erase(notify_, other);
  Erase(other->watching_, this);
}

std::string StatusText(TNetStatus status, const std::string& argument) {
  switch (status) {
    case stResolving:
      return "Resolving hostname " + argument + ".";
    case stConnecting:
      return "Connecting to " + argument + ".";
    case stConnected:
      return "Connected.";
    case stDisconnecting:
      return "Disconnecting.";
    case stDisconnected:
      return "Disconnected.";
    case stText:
    case stTransferStart:
    case stTransferReady:
    case stTransferAborted:
      return argument;
  }
  return argument;
}

TNetComponent::TNetComponent(TNetBaseComponent* owner) : TNetBaseComponent(owner) {
  std::lock_guard<std::mutex> guard(StackLock());
  if (g_componentCount == 0) g_stack = MakePlatformStack();  // may raise: nothing counted yet
  ++g_componentCount;
}

TNetComponent::~TNetComponent() {
  std::lock_guard<std::mutex> guard(StackLock());
  if (--g_componentCount == 0) g_stack.reset();
}

void TNetComponent::StartWork(TWorkMode mode, int64_t maximum) {
  WorkRecord& w = work_[mode];
  if (++w.Level == 1) {
    w.Max = maximum;
    w.Position = 0;
    if (OnWorkBegin) OnWorkBegin(this, mode, maximum);
  }
}

void TNetComponent::AddWork(TWorkMode mode, int64_t count) {
  WorkRecord& w = work_[mode];
  if (w.Level < 1) return;
  w.Position += count;
  if (OnWork) OnWork(this, mode, w.Position);
}

void TNetComponent::FinishWork(TWorkMode mode) {
  WorkRecord& w = work_[mode];
  if (w.Level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
  if (w.Level > 0) --w.Level;
}

void TNetComponent::ReportStatus(TNetStatus status, const std::string& argument) {
  if (OnStatus) OnStatus(this, status, StatusText(status, argument));
}

TNetStack* ProcessStackOrNull() {
  std::lock_guard<std::mutex> guard(StackLock());
  return g_stack.get();
}

TNetStack& ProcessStack() {
  TNetStack* stack = ProcessStackOrNull();
  if (stack == nullptr) throw ENetException("No socket stack: no network component exists.");
  return *stack;
}

int32_t LiveComponentCount() {
  std::lock_guard<std::mutex> guard(StackLock());
  return g_componentCount;
}

}  // namespace skelder::net
