#include "deploy/ftp_upload_pool.h"

#include <chrono>
#include <exception>

#include "ftp/net_ftp_trace.h"
#include "platform/file_names.h"

namespace skelder::deploy {

namespace {

// How long the user-interface thread waits for news before it turns the message loop anyway:
// short enough that a click on Cancel is answered at once.
constexpr auto kTurnEvery = std::chrono::milliseconds(40);

// The folder as one path for a single change of directory, when the base is absolute; else
// empty (the change then goes through the base directory first).
std::string AbsoluteFolder(const std::string& base, const std::string& dir) {
  if (base.empty() || base[0] != '/') return {};
  if (dir.empty()) return base;
  return base.back() == '/' ? base + dir : base + "/" + dir;
}

}  // namespace

TFtpUploadPool::TFtpUploadPool(std::vector<TUploadJob> jobs, std::string baseDir, std::string host)
    : jobs_(std::move(jobs)), baseDir_(std::move(baseDir)), host_(std::move(host)) {
  for (size_t i = 0; i < jobs_.size(); ++i) {
    pending_.insert(i);
    pendingByDir_[jobs_[i].RemoteDir].insert(i);
  }
}

TFtpUploadPool::~TFtpUploadPool() { JoinAll(); }

std::vector<std::string> TFtpUploadPool::FoldersToMake(const std::vector<TUploadJob>& jobs) {
  std::vector<std::string> folders;
  std::set<std::string> seen;
  for (const auto& job : jobs) {
    const std::string& dir = job.RemoteDir;
    for (size_t end = 0; end != std::string::npos;) {
      end = dir.find('/', end + 1);
      const std::string level = dir.substr(0, end);
      // "a//b" and a trailing "/" name no level of their own.
      if (level.empty() || level.back() == '/') continue;
      if (seen.insert(level).second) folders.push_back(level);
    }
  }
  return folders;
}

void TFtpUploadPool::Hold(bool held) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = held;
  }
  changed_.notify_all();
}

void TFtpUploadPool::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

void TFtpUploadPool::Post(TEvent event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }
  changed_.notify_all();
}

bool TFtpUploadPool::Take(const std::optional<std::string>& currentDir, size_t worker, size_t& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !held_ || stopped_ || failed_; });
  if (stopped_ || failed_ || pending_.empty()) return false;
  // Another file of the folder the session is in saves a change of directory.
  auto same = currentDir ? pendingByDir_.find(*currentDir) : pendingByDir_.end();
  job = same != pendingByDir_.end() && !same->second.empty() ? *same->second.begin() : *pending_.begin();
  pending_.erase(job);
  pendingByDir_[jobs_[job].RemoteDir].erase(job);
  workers_[worker]->Sent = 0;
  workers_[worker]->Bytes = jobs_[job].Bytes;
  return true;
}

void TFtpUploadPool::ChangeDirectory(ftp::TNetFTP& client, const std::string& dir, const std::string& shown) {
  try {
    client.ChangeDirectory(dir);
  } catch (const ftp::ENetProtocolReplyError& e) {
    // The server's own text ("No such file or directory.") does not say which folder on which
    // server.
    throw ftp::ENetProtocolReplyError(e.ReplyErrorCode,
                                      "Cannot open the folder '" + shown + "' on " + host_ + ": " + e.what());
  }
}

void TFtpUploadPool::Send(ftp::TNetFTP& client, const TUploadJob& job, std::optional<std::string>& currentDir) {
  if (currentDir != job.RemoteDir) {
    // Unknown until the change succeeds: a refusal leaves the session wherever it was.
    currentDir.reset();
    const std::string shown = job.RemoteDir.empty() ? baseDir_ : baseDir_ + "/" + job.RemoteDir;
    const std::string absolute = AbsoluteFolder(baseDir_, job.RemoteDir);
    if (!absolute.empty()) {
      ChangeDirectory(client, absolute, shown);
    } else {
      ChangeDirectory(client, baseDir_, baseDir_);
      if (!job.RemoteDir.empty()) ChangeDirectory(client, job.RemoteDir, shown);
    }
    currentDir = job.RemoteDir;
  }
  client.SetTransferType(ftp::ftBinary);
  for (const auto& file : job.Files) client.Upload(file, platform::ExtractFileName(file), false);
}

void TFtpUploadPool::Work(size_t worker, ftp::TNetFTP* lent, TUploadSession* own) {
  TWorker& me = *workers_[worker];
  ftp::TNetFTP& client = lent ? *lent : *own->Client;
  bool usable = true;
  try {
    // Bytes of the job in hand: those of its files already stored, and the transfer's count.
    int64_t stored = 0, transfer = 0;
    client.OnWorkBegin = [&](net::TNetComponent* sender, net::TWorkMode mode, int64_t max) {
      if (sender != &client && mode == net::wkWrite) transfer = max;
    };
    client.OnWork = [&](net::TNetComponent* sender, net::TWorkMode mode, int64_t count) {
      if (sender != &client && mode == net::wkWrite) me.Sent = stored + count;
    };
    client.OnWorkEnd = [&](net::TNetComponent* sender, net::TWorkMode mode) {
      if (sender == &client || mode != net::wkWrite) return;
      stored += transfer;
      transfer = 0;
      me.Sent = stored;
    };
    client.OnSwitchedToPassive = [this] {
      bool first;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        first = !switchedNoted_;
        switchedNoted_ = true;
      }
      if (first)
        Post({TEvent::Kind::Note, 0, "The server " + host_ + " refused active mode (PORT): passive mode from here on"});
    };

    std::optional<std::string> currentDir;
    if (own) {
      try {
        client.OpenSession(true, ftp::kHookConnectTimeoutMs);
        ChangeDirectory(client, baseDir_, baseDir_);
        currentDir = std::string();
      } catch (const std::exception& e) {
        // A server that allows fewer sessions than asked for: the others carry the files.
        usable = false;
        std::string why = e.what();
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();
        ftp::Trace().Note(client.TraceSession(), "Error: " + ftp::TraceMessage(why));
        Post({TEvent::Kind::Note, worker,
              "One of the FTP connections to " + host_ + " could not be opened, the others go on: " + why});
      }
    } else {
      currentDir = std::string();  // the lent session is in the base directory
    }

    size_t job = 0;
    while (usable && Take(currentDir, worker, job)) {
      Post({TEvent::Kind::Started, job, {}});
      stored = transfer = 0;
      TEvent ended{TEvent::Kind::Ended, job, {}};
      try {
        Send(client, jobs_[job], currentDir);
      } catch (const ftp::ENetProtocolReplyError& e) {
        // A refusal leaves the session in step with its server, unless a reply it owes did not come.
        ended.Ok = false;
        ended.Text = e.what();
        usable = !client.OutOfStep();
        currentDir.reset();
      } catch (const std::exception& e) {
        ended.Ok = false;
        ended.Text = e.what();
        usable = false;
      } catch (...) {
        ended.Ok = false;
        ended.Text = "Unknown FTP error.";
        usable = false;
      }
      me.Bytes = 0;
      me.Sent = 0;
      if (!ended.Ok) ftp::Trace().Note(client.TraceSession(), "Error: " + ftp::TraceMessage(ended.Text));
      if (!ended.Ok) {
        // A failed file fails the location: nobody takes another file.
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
      }
      Post(std::move(ended));
    }
  } catch (...) {
    // Nothing above throws past its own handlers; a thread must never end the process.
    usable = false;
  }
  client.OnWorkBegin = nullptr;
  client.OnWork = nullptr;
  client.OnWorkEnd = nullptr;
  client.OnSwitchedToPassive = nullptr;
  if (own) {
    try {
      own->Client->CloseConnection();
    } catch (...) {
    }
    // The session ends on the thread that used it.
    own->Client.reset();
    own->Handler.reset();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lent && !usable) firstUsable_ = false;
    --running_;
  }
  changed_.notify_all();
}

void TFtpUploadPool::JoinAll() {
  Stop();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
  threads_.clear();
}

void TFtpUploadPool::Run(ftp::TNetFTP& first, std::vector<TUploadSession> more, const TEvents& events) {
  const size_t sessions = std::min(jobs_.size(), more.size() + 1);
  if (sessions == 0) return;
  more.resize(sessions - 1);

  // The lent session's own handlers report to the dialog; while a worker drives it they must
  // not run, and they come back whatever happens.
  struct Restore {
    TFtpUploadPool& pool;
    ftp::TNetFTP& client;
    net::TWorkBeginEvent begin = client.OnWorkBegin;
    net::TWorkEvent work = client.OnWork;
    net::TWorkEndEvent end = client.OnWorkEnd;
    std::function<void()> switched = client.OnSwitchedToPassive;
    ~Restore() {
      pool.JoinAll();
      client.OnWorkBegin = begin;
      client.OnWork = work;
      client.OnWorkEnd = end;
      client.OnSwitchedToPassive = switched;
    }
  } restore{*this, first};

  for (size_t i = 0; i < sessions; ++i) workers_.push_back(std::make_unique<TWorker>());
  // A cancel answered before the run began (while the folders were made) sends nothing.
  if (events.Cancelled()) stopped_ = true;
  running_ = sessions;
  threads_.emplace_back([this, &first] { Work(0, &first, nullptr); });
  for (size_t i = 1; i < sessions; ++i) threads_.emplace_back([this, i, &more] { Work(i, nullptr, &more[i - 1]); });

  // Results are handled in job order (the order of the file list), so the record's new entries
  // and the log's lines come out as a deployment over one session writes them, whichever
  // session ended first.
  std::vector<std::optional<std::string>> errors(jobs_.size());
  std::vector<bool> ended(jobs_.size(), false);
  size_t next = 0;
  for (;;) {
    std::vector<TEvent> batch;
    bool allEnded;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, kTurnEvery, [&] { return !events_.empty() || running_ == 0; });
      batch.swap(events_);
      // Workers post before they end, under the same lock: nothing can follow this batch.
      allEnded = running_ == 0;
    }
    for (auto& e : batch) {
      switch (e.Kind) {
        case TEvent::Kind::Started:
          events.Started(e.Job);
          break;
        case TEvent::Kind::Ended:
          ended[e.Job] = true;
          if (!e.Ok) errors[e.Job] = std::move(e.Text);
          events.Ended(e.Job);
          break;
        case TEvent::Kind::Note:
          events.Note(e.Text);
          break;
      }
    }
    for (; next < jobs_.size() && ended[next]; ++next) events.Handled(next, errors[next] ? &*errors[next] : nullptr);
    int64_t total = 0, sent = 0;
    for (const auto& w : workers_) {
      total += w->Bytes;
      sent += w->Sent;
    }
    events.Progress(total, sent);
    if (allEnded) break;
    events.Turn();
    if (events.Cancelled()) Stop();
  }
  // A job after one that was never sent (handed out before it, being in the folder a session
  // was in) was stored all the same: it is handled too.
  for (; next < jobs_.size(); ++next)
    if (ended[next]) events.Handled(next, errors[next] ? &*errors[next] : nullptr);
}

}  // namespace skelder::deploy
