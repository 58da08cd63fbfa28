#include "SetupFile.h"

#include "FileHandle.h"

#include "metainfo/MessageDigests.h"
#include "metainfo/TorrentFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace mirel {

namespace {

constexpr size_t ReadChunk = 1 << 20;

// Without pieces there is nothing to prove the content with, except for an
// empty file.
bool PieceLayoutFits(const TTorrentFile &metainfo) {
  if (metainfo.TotalLength < 0)
    return false;
  if (metainfo.TotalLength == 0)
    return true;
  const int64_t pieceLength = metainfo.PieceLength;
  return pieceLength > 0 && static_cast<int64_t>(metainfo.Pieces.size()) ==
                                (metainfo.TotalLength + pieceLength - 1) / pieceLength;
}

} // namespace

bool IsSafeSetupFileName(const std::string &name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f || c == '/' || c == '\\')
      return false;
  }
  return true;
}

bool SetupFileMatchesMetainfo(const std::string &path, const TTorrentFile &metainfo) {
  TPieceCheck check(path, metainfo);
  return check.Finish();
}

TPieceCheck::TPieceCheck(std::string path, const TTorrentFile &metainfo)
    : Path_(std::move(path)), Metainfo_(metainfo), Ok_(PieceLayoutFits(metainfo)) {
  Worker_ = std::thread([this] { Run(); });
}

TPieceCheck::~TPieceCheck() {
  if (!Worker_.joinable())
    return;
  {
    std::lock_guard<std::mutex> lock(Mutex_);
    Stop_ = true;
  }
  Wake_.notify_one();
  Worker_.join();
}

void TPieceCheck::BytesWritten(uint64_t count) {
  {
    std::lock_guard<std::mutex> lock(Mutex_);
    if (count <= Written_)
      return;
    Written_ = count;
  }
  Wake_.notify_one();
}

bool TPieceCheck::Finish() {
  if (!Worker_.joinable())
    return false;
  {
    std::lock_guard<std::mutex> lock(Mutex_);
    Final_ = true;
  }
  Wake_.notify_one();
  Worker_.join();
  return Ok_ && NextPiece_ == Metainfo_.Pieces.size();
}

void TPieceCheck::Run() {
  FileHandle file;
  std::unique_ptr<char[]> buffer;
  const size_t pieceCount = Metainfo_.Pieces.size();
  for (;;) {
    bool final = false;
    {
      std::unique_lock<std::mutex> lock(Mutex_);
      Wake_.wait(lock, [&] {
        if (Stop_ || Final_)
          return true;
        if (!Ok_ || NextPiece_ == pieceCount)
          return false;
        const int64_t end =
            std::min<int64_t>(NextOffset_ + Metainfo_.PieceLength, Metainfo_.TotalLength);
        return Written_ >= static_cast<uint64_t>(end);
      });
      if (Stop_) {
        Ok_ = false;
        return;
      }
      final = Final_;
    }
    if (!Ok_ || NextPiece_ == pieceCount) {
      if (final)
        break;
      continue;
    }
    if (file.Fd < 0) {
      file.Fd = open(Path_.c_str(), O_RDONLY | O_CLOEXEC);
      if (file.Fd < 0) {
        Ok_ = false;
        continue;
      }
    }
    if (!buffer)
      buffer.reset(new char[ReadChunk]);
    Ok_ = HashNextPiece(file.Fd, buffer.get());
  }
  if (!Ok_)
    return;
  // The pieces are right; the file must also end where the metainfo says,
  // and still be the file they were read from.
  if (file.Fd < 0)
    file.Fd = open(Path_.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat opened {};
  struct stat named {};
  Ok_ = file.Fd >= 0 && fstat(file.Fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
        static_cast<int64_t>(opened.st_size) == Metainfo_.TotalLength &&
        stat(Path_.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino;
}

bool TPieceCheck::HashNextPiece(int fd, char *buffer) {
  const int64_t want =
      std::min<int64_t>(Metainfo_.PieceLength, Metainfo_.TotalLength - NextOffset_);
  TSHA1 sha;
  for (int64_t done = 0; done < want;) {
    const auto part = static_cast<size_t>(std::min<int64_t>(ReadChunk, want - done));
    const ssize_t n = pread(fd, buffer, part, NextOffset_ + done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    sha.Update(buffer, static_cast<size_t>(n));
    done += n;
  }
  sha.Finish();
  if (sha.Digest() != Metainfo_.Pieces[NextPiece_].Hash)
    return false;
  NextOffset_ += want;
  ++NextPiece_;
  return true;
}

} // namespace mirel
