#include "net/net_anti_freeze.h"

#include <atomic>

#include "platform/toolkit.h"

namespace skelder::net {

namespace {
std::atomic<TNetAntiFreezeBase*> g_current{nullptr};
}

TNetAntiFreezeBase::TNetAntiFreezeBase(TNetBaseComponent* owner) : TNetBaseComponent(owner) { g_current = this; }

// Any instance going away clears the current one, even a later instance: a hook that might
// point at freed memory is worse than no hook.
TNetAntiFreezeBase::~TNetAntiFreezeBase() { g_current = nullptr; }

TNetAntiFreezeBase* TNetAntiFreezeBase::Current() { return g_current.load(); }

void TNetAntiFreeze::ProcessMessagesTurn() {
  if (ApplicationHasPriority)
    platform::CurrentToolkit().ProcessMessages();
  else
    platform::CurrentToolkit().ProcessOneMessage();
}

bool HookInUse() {
  TNetAntiFreezeBase* current = g_current.load();
  return current != nullptr && current->Active && IsMainThread();
}

void RunHook(bool idle, bool force) {
  if (!HookInUse()) return;
  TNetAntiFreezeBase* current = g_current.load();
  if (current != nullptr && current->Active && (!current->OnlyWhenIdle || idle || force)) {
    current->ProcessMessagesTurn();
  }
}

bool HookCutsBoundedWaits() {
  if (!HookInUse()) return false;
  TNetAntiFreezeBase* current = g_current.load();
  return current != nullptr && current->CutBoundedWaits;
}

int32_t HookIdleTimeOut() {
  if (!HookInUse()) return 0;
  TNetAntiFreezeBase* current = g_current.load();
  if (current == nullptr) return 0;
  return current->IdleTimeOut < 1 ? 1 : current->IdleTimeOut;
}

}  // namespace skelder::net
