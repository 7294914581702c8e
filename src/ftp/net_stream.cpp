#include "ftp/net_stream.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/exception.h"
#include "platform/files.h"

namespace skelder::ftp {

int64_t TNetMemoryStream::Read(void* buffer, int64_t count) {
  int64_t n = std::min<int64_t>(count, Size() - position_);
  if (n <= 0) return 0;
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

void TNetMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return;
  if (position_ + count > Size()) data_.resize(static_cast<size_t>(position_ + count));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
}

void TNetMemoryStream::SetPosition(int64_t position) { position_ = position < 0 ? 0 : position; }

void TNetMemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(size < 0 ? 0 : size));
  if (position_ > Size()) position_ = Size();
}

TNetFileStream::TNetFileStream(const std::string& fileName, TMode mode) : fileName_(fileName) {
  const char* how = mode == fmCreate ? "w+b" : mode == fmOpenRead ? "rb" : "r+b";
  const std::string failure = (mode == fmCreate ? "Cannot create file \"" : "Cannot open file \"") + fileName + "\". ";
  // Only a regular file is data: a directory opens for reading here (and reads as nothing),
  // and opening a pipe would wait for a writer.
  std::error_code ec;
  const auto kind = std::filesystem::status(fileName, ec).type();
  if (kind == std::filesystem::file_type::directory) throw skelder::Exception(failure + std::strerror(EISDIR));
  if (!ec && kind != std::filesystem::file_type::regular && kind != std::filesystem::file_type::not_found)
    throw skelder::Exception(failure + "Not a regular file");
  file_ = std::fopen(fileName.c_str(), how);
  if (file_ == nullptr) throw skelder::Exception(failure + std::strerror(errno));
  // The name may have changed hands between the look and the opening.
  const auto facts = platform::GetOpenFileFacts(file_);
  if (facts && !facts->regular) {
    std::fclose(file_);
    file_ = nullptr;
    throw skelder::Exception(failure + "Not a regular file");
  }
  // Transfers move the file in chunks of a few KiB; a larger stdio buffer turns them into
  // fewer system calls.
  std::setvbuf(file_, nullptr, _IOFBF, 64 * 1024);
}

TNetFileStream::~TNetFileStream() {
  if (file_ != nullptr) std::fclose(file_);
}

void TNetFileStream::MoveTo(int64_t position) {
  if (filePos_ == position) return;
  if (fseeko(file_, position, SEEK_SET) != 0)
    throw skelder::Exception("Cannot seek in \"" + fileName_ + "\": " + std::strerror(errno));
  filePos_ = position;
}

int64_t TNetFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  // Switching from writing to reading needs a flush and a positioning call in between.
  if (lastWasWrite_) {
    std::fflush(file_);
    filePos_ = -1;
    lastWasWrite_ = false;
  }
  MoveTo(position_);
  size_t n = std::fread(buffer, 1, static_cast<size_t>(count), file_);
  if (n == 0 && std::ferror(file_)) throw skelder::Exception("Read error on \"" + fileName_ + "\"");
  position_ += static_cast<int64_t>(n);
  filePos_ = position_;
  return static_cast<int64_t>(n);
}

void TNetFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return;
  if (!lastWasWrite_) filePos_ = -1;
  MoveTo(position_);
  lastWasWrite_ = true;
  if (std::fwrite(buffer, 1, static_cast<size_t>(count), file_) != static_cast<size_t>(count))
    throw skelder::Exception("Stream write error on \"" + fileName_ + "\": " + std::strerror(errno));
  position_ += count;
  filePos_ = position_;
}

void TNetFileStream::SetPosition(int64_t position) { position_ = position < 0 ? 0 : position; }

// Size and length come from the open file: its name may have been removed or taken over by
// another file since it was opened, and an upload must send what was opened.
int64_t TNetFileStream::Size() const {
  std::fflush(file_);
  const auto facts = platform::GetOpenFileFacts(file_);
  if (!facts) throw skelder::Exception("Cannot get the size of \"" + fileName_ + "\": " + std::strerror(errno));
  return facts->size;
}

void TNetFileStream::SetSize(int64_t size) {
  std::fflush(file_);
  if (!platform::SetOpenFileSize(file_, size))
    throw skelder::Exception("Cannot set the size of \"" + fileName_ + "\": " + std::strerror(errno));
  lastWasWrite_ = false;
  filePos_ = -1;
  if (position_ > size) position_ = size;
}

}  // namespace skelder::ftp
