#pragma once
// The component base of the FTP client: owner, name and free notification (so that borrowed
// references are cleared when the borrowed object goes away), and TNetComponent, whose live
// instances keep the process-wide socket stack alive, with status and work (progress) events.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace skelder::net {

class TNetStack;

class TNetBaseComponent {
 public:
  // The owner is recorded, not used for freeing: lifetimes are the C++ owners' business.
  explicit TNetBaseComponent(TNetBaseComponent* owner = nullptr) : owner_(owner) {}
  virtual ~TNetBaseComponent();
  TNetBaseComponent(const TNetBaseComponent&) = delete;
  TNetBaseComponent& operator=(const TNetBaseComponent&) = delete;

  TNetBaseComponent* Owner() const { return owner_; }
  std::string Name;

  // Asks `other` to be told (through its Notification) when this component is destroyed; the
  // link goes away by itself when `other` is destroyed first.
  void FreeNotification(TNetBaseComponent* other);
  void RemoveFreeNotification(TNetBaseComponent* other);

 protected:
  // `component` is being destroyed: drop every reference to it.
  virtual void Notification(TNetBaseComponent* /*component*/) {}

 private:
  void Unlink(TNetBaseComponent* other);
  TNetBaseComponent* owner_;
  std::vector<TNetBaseComponent*> notify_;    // told when this one dies
  std::vector<TNetBaseComponent*> watching_;  // whose deaths this one is told about
};

enum TNetStatus : int {
  stResolving = 0,
  stConnecting = 1,
  stConnected = 2,
  stDisconnecting = 3,
  stDisconnected = 4,
  stText = 5,
  stTransferStart = 6,
  stTransferReady = 7,
  stTransferAborted = 8,
};

enum TWorkMode : int { wkRead = 0, wkWrite = 1 };

class TNetComponent;

using TNetStatusEvent = std::function<void(TNetComponent* ASender, TNetStatus AStatus, const std::string& AStatusText)>;
// Work counts are 64-bit so that files beyond 2 GiB report sane progress.
using TWorkEvent = std::function<void(TNetComponent* Sender, TWorkMode AWorkMode, int64_t AWorkCount)>;
using TWorkBeginEvent = std::function<void(TNetComponent* Sender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
using TWorkEndEvent = std::function<void(TNetComponent* Sender, TWorkMode AWorkMode)>;
using TNetNotifyEvent = std::function<void(TNetComponent* Sender)>;

// The text a status is reported with: the kind's template filled with the argument.
std::string StatusText(TNetStatus status, const std::string& argument = std::string());

class TNetComponent : public TNetBaseComponent {
 public:
  // Creates the process-wide stack when this is the first live component (may raise
  // ENetStackInitializationFailed).
  explicit TNetComponent(TNetBaseComponent* owner = nullptr);
  ~TNetComponent() override;

  struct WorkRecord {
    int32_t Level = 0;
    int64_t Max = 0;
    int64_t Position = 0;
  };

  TNetStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

  virtual void StartWork(TWorkMode mode, int64_t maximum);
  virtual void AddWork(TWorkMode mode, int64_t count);
  virtual void FinishWork(TWorkMode mode);
  const WorkRecord& Work(TWorkMode mode) const { return work_[mode]; }

  // Fires OnStatus (when assigned) with the kind's template filled with `argument`.
  void ReportStatus(TNetStatus status, const std::string& argument = std::string());

 private:
  WorkRecord work_[2];
};

// The stack while any TNetComponent lives; raises ENetException when none exists.
TNetStack& ProcessStack();
TNetStack* ProcessStackOrNull();
int32_t LiveComponentCount();

}  // namespace skelder::net
