#pragma once
// A small seekable byte stream for transfers: data moves through it in chunks, so no transfer
// ever holds a whole file in memory.
#include <cstdint>
#include <cstdio>
#include <string>

namespace skelder::ftp {

class TNetStream {
 public:
  virtual ~TNetStream() = default;
  // Up to count bytes at the position; 0 at the end.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // All count bytes at the position, growing the stream; raises on failure.
  virtual void Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  virtual int64_t Size() const = 0;
  // Grows (with zero bytes) or cuts the stream; the position is kept, limited to the new size.
  virtual void SetSize(int64_t size) = 0;
};

class TNetMemoryStream : public TNetStream {
 public:
  TNetMemoryStream() = default;
  explicit TNetMemoryStream(std::string data) : data_(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override;
  void Write(const void* buffer, int64_t count) override;
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
  int64_t position_ = 0;
};

// A file on disk. Open failures raise skelder::Exception with "Cannot create file "%s". %s" or
// "Cannot open file "%s". %s" (the system's reason).
class TNetFileStream : public TNetStream {
 public:
  enum TMode {
    fmCreate,     // create or truncate, read and write
    fmOpenRead,   // existing file, read only
    fmOpenWrite,  // existing file, read and write, not truncated
  };
  TNetFileStream(const std::string& fileName, TMode mode);
  ~TNetFileStream() override;
  TNetFileStream(const TNetFileStream&) = delete;
  TNetFileStream& operator=(const TNetFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  void Write(const void* buffer, int64_t count) override;
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t Size() const override;
  void SetSize(int64_t size) override;
  const std::string& FileName() const { return fileName_; }

 private:
  void MoveTo(int64_t position);
  std::string fileName_;
  std::FILE* file_ = nullptr;
  int64_t position_ = 0;
  int64_t filePos_ = 0;  // where the C stream's cursor is
  bool lastWasWrite_ = false;
};

}  // namespace skelder::ftp
