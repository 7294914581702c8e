#include "platform/toolkit.h"

#include <algorithm>
#include <mutex>
#include <vector>
#include <unordered_map>

namespace skelder::platform {
namespace {

// One table for the process, so that a handle the host holds stays valid when the backend
// changes. Ids are 32 bits (the host's records hold four bytes) and never pointers.
class HandleTable {
 public:
  uint32_t HandleOf(Form& form) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = byForm_.find(&form);
    if (found != byForm_.end()) return found->second;
    uint32_t id;
    do {
      id = next_++;
    } while (id == 0 || byId_.count(id));
    byId_[id] = &form;
    byForm_[&form] = id;
    return id;
  }

  Form* FormOf(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = byId_.find(id);
    return found == byId_.end() ? nullptr : found->second;
  }

  void Release(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = byId_.find(id);
    if (found == byId_.end()) return;
    byForm_.erase(found->second);
    byId_.erase(found);
  }

  void ReleaseForm(Form& form) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = byForm_.find(&form);
    if (found == byForm_.end()) return;
    byId_.erase(found->second);
    byForm_.erase(found);
  }

 private:
  std::mutex mutex_;
  uint32_t next_ = 0x00010001;  // far from small numbers a caller might mistake for an index
  std::unordered_map<uint32_t, Form*> byId_;
  std::unordered_map<Form*, uint32_t> byForm_;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // outlives forms destroyed during exit
  return *table;
}

std::unique_ptr<Toolkit>& Installed() {
  static std::unique_ptr<Toolkit> toolkit;
  return toolkit;
}

}  // namespace

static std::vector<Toolkit*>& Watchers() {
  static auto* watchers = new std::vector<Toolkit*>;  // outlives forms destroyed during exit
  return *watchers;
}

void ReleaseHandlesOf(Form& form) {
  // Only backends that exist can show the form; none is made for a form going away.
  Toolkit* installed = Installed().get();
  if (installed) installed->FormDestroyed(form);
  for (Toolkit* watcher : std::vector<Toolkit*>(Watchers()))
    if (watcher != installed) watcher->FormDestroyed(form);
  Handles().ReleaseForm(form);
}

void WatchFormDestruction(Toolkit& toolkit, bool on) {
  auto& watchers = Watchers();
  watchers.erase(std::remove(watchers.begin(), watchers.end(), &toolkit), watchers.end());
  if (on) watchers.push_back(&toolkit);
}

uint32_t Toolkit::ShowAsChild(Form& form, uint32_t) { return HandleOf(form); }

uint32_t Toolkit::HandleOf(Form& form) { return Handles().HandleOf(form); }
Form* Toolkit::FormOf(uint32_t handle) { return Handles().FormOf(handle); }
void Toolkit::ReleaseHandle(uint32_t handle) { Handles().Release(handle); }

Toolkit& CurrentToolkit() {
  auto& toolkit = Installed();
  if (!toolkit) toolkit = MakeDefaultToolkit();
  return *toolkit;
}

void SetToolkit(std::unique_ptr<Toolkit> toolkit) { Installed() = std::move(toolkit); }

}  // namespace skelder::platform
