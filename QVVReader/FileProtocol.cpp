// The "file" protocol: plain POSIX descriptors, shareable, binary.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "QVVReader/ByteIO.h"
#include "QVVReader/Protocols.h"

namespace qvv {
namespace {

int FileOpen(URLContext* h, const char* path, int flags) {
  if (std::strncmp(path, "file:", 5) == 0) path += 5;
  int access = O_RDONLY;
  if (flags & kUrlReadWrite) {
    access = O_RDWR | O_CREAT | O_TRUNC;
  } else if (flags & kUrlWriteOnly) {
    access = O_WRONLY | O_CREAT | O_TRUNC;
  }
  const int fd = ::open(path, access | O_CLOEXEC, 0666);
  if (fd < 0) return kErrNotFound;
  h->priv_data = reinterpret_cast<void*>(static_cast<intptr_t>(fd));
  return 0;
}

int Fd(URLContext* h) { return static_cast<int>(reinterpret_cast<intptr_t>(h->priv_data)); }

int FileRead(URLContext* h, uint8_t* buf, int size) {
  for (;;) {
    const ssize_t n = ::read(Fd(h), buf, static_cast<size_t>(size));
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -errno;
  }
}

int FileWrite(URLContext* h, const uint8_t* buf, int size) {
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(Fd(h), buf + done, static_cast<size_t>(size - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    done += static_cast<int>(n);
  }
  return done;
}

int64_t FileSeek(URLContext* h, int64_t pos, int whence) {
  if (whence == kSeekSize) {
    struct stat st {};
    if (::fstat(Fd(h), &st) < 0) return -errno;
    return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : kErrInvalid;
  }
  const off_t r = ::lseek(Fd(h), static_cast<off_t>(pos), whence);
  return r < 0 ? -errno : static_cast<int64_t>(r);
}

int FileClose(URLContext* h) { return ::close(Fd(h)) < 0 ? -errno : 0; }

}  // namespace

URLProtocol file_protocol = {"file", FileOpen, FileRead, FileWrite, FileSeek, FileClose, nullptr, nullptr, nullptr};

}  // namespace qvv
