#pragma once
// Uploads to one FTP location over several sessions at once. The user-interface thread plans the
// work (which files, with their groups, into which folders) and hands it over; worker threads,
// one per session, take the files one group at a time and send them; the user-interface thread
// waits for them in short pieces, turning the message loop in between, and hears of each file
// as it ends. No worker touches the user interface, the record or the log, and no two threads
// ever share a session.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ftp/net_ftp.h"
#include "ftp/net_io_handler_socket.h"

namespace skelder::deploy {

// One file to send with its file-group companions: they always go together, over one session.
struct TUploadJob {
  std::string RemoteDir;           // "/"-separated, below the base directory; empty: the base itself
  std::vector<std::string> Files;  // local files, sent in this order under their own names
  int64_t Bytes = 0;               // their sizes together, for the progress of the bytes in flight
};

// A session of its own for a worker: the client and, through a SOCKS proxy, its socket handler.
struct TUploadSession {
  std::unique_ptr<ftp::TNetFTP> Client = std::make_unique<ftp::TNetFTP>();
  std::unique_ptr<ftp::TNetIOHandlerSocket> Handler;
};

class TFtpUploadPool {
 public:
  // What the user-interface thread hears, always on that thread, from inside Run.
  struct TEvents {
    std::function<void(size_t job)> Started;
    // A job ended (in the order jobs end); its result comes with Handled.
    std::function<void(size_t job)> Ended;
    // Each ended job's result, in job order: a job is handled once every job before it was
    // handled, or found never to be sent. Null error: every file of the job was stored.
    std::function<void(size_t job, const std::string* error)> Handled;
    std::function<void(const std::string& note)> Note;
    // The bytes of the jobs in flight: together, and sent so far.
    std::function<void(int64_t total, int64_t sent)> Progress;
    std::function<void()> Turn;       // the message loop's turn
    std::function<bool()> Cancelled;  // checked after every turn
  };

  // The site's base directory and its host (for messages).
  TFtpUploadPool(std::vector<TUploadJob> jobs, std::string baseDir, std::string host);
  ~TFtpUploadPool();
  TFtpUploadPool(const TFtpUploadPool&) = delete;
  TFtpUploadPool& operator=(const TFtpUploadPool&) = delete;

  // The folders the jobs go into, each with its parents before it, each once.
  static std::vector<std::string> FoldersToMake(const std::vector<TUploadJob>& jobs);

  // Sends the jobs over `first` (an open session in the base directory, lent by the caller for
  // the run) and the prepared sessions in `more` (opened by their workers), one worker thread
  // each; only as many sessions as there are jobs are used. Returns when every worker has
  // ended; on every way out (an exception of an event included) no thread is left running and
  // `first` has its own event handlers back.
  void Run(ftp::TNetFTP& first, std::vector<TUploadSession> more, const TEvents& events);

  // From the user-interface thread, while Run turns the message loop: held, no worker takes a
  // new job (the cancel question is on the screen); Stop ends the handing out for good.
  void Hold(bool held);
  void Stop();

  // After Run.
  bool Failed() const { return failed_; }
  // False when the lent session may be out of step with its server (a lost connection, a
  // timeout): it must be opened anew before it is used again.
  bool FirstSessionUsable() const { return firstUsable_; }

 private:
  struct TWorker {
    std::atomic<int64_t> Bytes{0};  // of the job in hand
    std::atomic<int64_t> Sent{0};
  };
  struct TEvent {
    enum class Kind { Started, Ended, Note } Kind;
    size_t Job = 0;
    std::string Text;
    bool Ok = true;
  };

  void Work(size_t worker, ftp::TNetFTP* lent, TUploadSession* own);
  void Send(ftp::TNetFTP& client, const TUploadJob& job, std::optional<std::string>& currentDir);
  void ChangeDirectory(ftp::TNetFTP& client, const std::string& dir, const std::string& shown);
  // Takes the next job, preferring one in the folder the session is in; false when there is
  // none to take (all handed out, a failure, a stop).
  bool Take(const std::optional<std::string>& currentDir, size_t worker, size_t& job);
  void Post(TEvent event);
  void JoinAll();

  const std::vector<TUploadJob> jobs_;
  const std::string baseDir_;
  const std::string host_;

  std::mutex mutex_;
  std::condition_variable changed_;  // to workers: a hold ended, a stop; to Run: events, an end
  std::set<size_t> pending_;
  std::map<std::string, std::set<size_t>> pendingByDir_;
  std::vector<TEvent> events_;
  size_t running_ = 0;
  bool held_ = false;
  bool stopped_ = false;
  bool failed_ = false;
  bool switchedNoted_ = false;
  bool firstUsable_ = true;

  std::vector<std::unique_ptr<TWorker>> workers_;
  std::vector<std::thread> threads_;
};

}  // namespace skelder::deploy
