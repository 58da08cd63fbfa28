#include "metainfo/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirel {

TFileStream::TFileStream(const std::string &path) {
  // Non-blocking so that a FIFO cannot stall the open; regular files ignore it.
  Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (Fd < 0)
    throw EStreamError("Cannot open file \"" + path + "\": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(Fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const std::string why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    ::close(Fd);
    throw EStreamError("Cannot open file \"" + path + "\": " + why);
  }
  FileSize = st.st_size;
  Buffer = std::make_unique<unsigned char[]>(BufferSize);
}

TFileStream::~TFileStream() {
  if (Fd >= 0)
    ::close(Fd);
}

// Refills the buffer at the current position; false at the end of the file.
bool TFileStream::Fill() {
  BufferStart += static_cast<std::int64_t>(Next);
  Next = 0;
  Filled = 0;
  for (;;) {
    const ssize_t n = ::pread(Fd, Buffer.get(), BufferSize, BufferStart);
    if (n >= 0) {
      Filled = static_cast<std::size_t>(n);
      return n > 0;
    }
    if (errno != EINTR)
      throw EStreamError(std::string("Cannot read file: ") + std::strerror(errno));
  }
}

std::size_t TFileStream::Read(void *buffer, std::size_t count) {
  auto *out = static_cast<unsigned char *>(buffer);
  std::size_t done = 0;
  while (done < count) {
    if (Next == Filled) {
      // Large reads bypass the buffer.
      if (count - done >= BufferSize) {
        BufferStart += static_cast<std::int64_t>(Next);
        Next = Filled = 0;
        const ssize_t n = ::pread(Fd, out + done, count - done, BufferStart);
        if (n < 0) {
          if (errno == EINTR)
            continue;
          throw EStreamError(std::string("Cannot read file: ") + std::strerror(errno));
        }
        if (n == 0)
          break;
        BufferStart += n;
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (!Fill())
        break;
    }
    const std::size_t take = std::min(count - done, Filled - Next);
    std::memcpy(out + done, Buffer.get() + Next, take);
    Next += take;
    done += take;
  }
  return done;
}

void TFileStream::Seek(std::int64_t position) {
  if (position < 0)
    throw EStreamError("Invalid stream position");
  // Stay inside the buffer when the target lies in it (the decoder steps back one byte).
  if (position >= BufferStart && position <= BufferStart + static_cast<std::int64_t>(Filled)) {
    Next = static_cast<std::size_t>(position - BufferStart);
    return;
  }
  BufferStart = position;
  Next = Filled = 0;
}

std::size_t TMemoryStream::Read(void *buffer, std::size_t count) {
  const auto size = static_cast<std::int64_t>(Bytes.size());
  if (Pos >= size)
    return 0;
  const std::size_t take = std::min(count, static_cast<std::size_t>(size - Pos));
  std::memcpy(buffer, Bytes.data() + Pos, take);
  Pos += static_cast<std::int64_t>(take);
  return take;
}

void TMemoryStream::Seek(std::int64_t position) {
  if (position < 0)
    throw EStreamError("Invalid stream position");
  Pos = position;
}

} // namespace mirel
