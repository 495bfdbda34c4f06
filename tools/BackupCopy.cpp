#include "tools/BackupCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

#include "tools/FileChecksum.h"

namespace tools {
namespace {

constexpr std::string_view kSuccessText = "back up success";
// Written data is handed to the disk in steps of this size while the copy
// goes on, so that the final flush has little left to do and the cache does
// not fill with a whole large file's dirty pages.
constexpr uint64_t kWritebackStep = 8u << 20;
// The longest part of the name a temporary name keeps (names are limited to
// 255 bytes; ".", ".<pid>-<n>" and ".part" come on top).
constexpr size_t kTempNameKeep = 200;

// A descriptor closed when it goes out of scope, unless closed before.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  bool ok() const { return fd_ >= 0; }
  // Closes it; false when close reports an error (a write the kernel could
  // not complete can show here first).
  bool Close() {
    if (fd_ < 0) return true;
    const int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  int fd_;
};

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do fd = ::open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// A read that continues after a signal: bytes read, 0 at the end, -1 on error.
ssize_t ReadSome(int fd, unsigned char* buffer, size_t size) {
  ssize_t n;
  do n = ::read(fd, buffer, size);
  while (n < 0 && errno == EINTR);
  return n;
}

// Writes the whole block or reports failure (a full disk, a file too large,
// an I/O error): a write that takes no byte counts as failed too.
bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

struct Fingerprint {
  uint64_t length = 0;
  uint64_t checksum = 0;
  bool operator==(const Fingerprint&) const = default;
};

enum class ReadResult { Done, Failed, Cancelled };

// Reads an open file from where it stands to its end, for its length and
// checksum; `block` after every block read.
ReadResult ReadFingerprint(int fd, unsigned char* buffer, const std::atomic<bool>& running,
                           const std::function<void(uint64_t)>& block, Fingerprint& out) {
  FileChecksum sum;
  for (;;) {
    if (!running.load()) return ReadResult::Cancelled;
    const ssize_t n = ReadSome(fd, buffer, kCopyBlockBytes);
    if (n < 0) return ReadResult::Failed;
    if (n == 0) break;
    sum.Update(buffer, static_cast<size_t>(n));
    if (block) block(sum.length());
  }
  out = {sum.length(), sum.Digest()};
  return ReadResult::Done;
}

// Moves the finished copy onto its name, never over a file that appeared
// there meanwhile. 0, or the errno of the failure (EEXIST: the name is taken).
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  // A file system without the exclusive rename: a hard link is exclusive too.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  // Nor hard links (FAT file systems): look, then rename.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Makes the new name itself durable. Best effort: the file's bytes are on
// the disk already, and some file systems cannot flush a folder.
void SyncFolder(const std::string& folder) {
  Fd dir(OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY));
  if (dir.ok()) ::fsync(dir.get());
}

std::string TempPathFor(const std::string& folder, std::string_view name) {
  static std::atomic<unsigned> serial{0};
  const std::string_view kept = name.substr(0, kTempNameKeep);
  return folder + "/." + std::string(kept) + "." + std::to_string(::getpid()) + "-" +
         std::to_string(serial.fetch_add(1)) + ".part";
}

}  // namespace

std::string_view BaseName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

BackupCopy::BackupCopy(std::vector<std::string> sources, std::string destination)
    : sources_(std::move(sources)), destination_(std::move(destination)) {}

std::string BackupCopy::error_text() const { return finished() ? error_ : std::string(); }

std::string BackupCopy::StatusText() const {
  if (finished()) return success_ ? std::string(kSuccessText) : "copy error:" + error_;
  const int i = index_.load();
  if (i < 0 || i >= count()) return {};
  return "copying " + std::string(BaseName(sources_[static_cast<size_t>(i)])) + " " + std::to_string(i + 1) + "/" +
         std::to_string(count());
}

bool BackupCopy::Run() {
  if (started_) return false;
  started_ = true;
  std::string error;
  for (int i = 0; i < count() && running_.load(); ++i) {
    index_.store(i);
    FileReport report;
    const FileOutcome outcome = CopyFile(i, report);
    if (outcome == FileOutcome::Copied) copied_.fetch_add(1);
    if (outcome == FileOutcome::Skipped) skipped_.fetch_add(1);
    if (outcome == FileOutcome::Failed) {
      failed_.fetch_add(1);
      error = report.error;
      running_.store(false);
    }
    if (file_done_) file_done_(report);
  }
  // Stopped before the list's end without a failure: cancelled.
  const bool complete = copied_.load() + skipped_.load() == count();
  if (!complete && error.empty()) error = kCancelledText;
  success_ = complete;
  error_ = std::move(error);
  running_.store(false);
  finished_.store(true, std::memory_order_release);
  return complete;
}

FileOutcome BackupCopy::CopyFile(int index, FileReport& report) {
  const std::string& source = sources_[static_cast<size_t>(index)];
  const std::string_view name = BaseName(source);
  report.index = index;
  report.source = source;
  report.destination = destination_ + "/" + std::string(name);
  const std::string& target = report.destination;
  auto fail = [&report](std::string_view text) {
    report.outcome = FileOutcome::Failed;
    report.error = std::string(text);
    return report.outcome;
  };
  auto done = [&report](FileOutcome outcome) {
    report.outcome = outcome;
    return outcome;
  };

  // Not blocking on a pipe someone put in a recording's place; only regular
  // files are copied.
  Fd in(OpenRetrying(source.c_str(), O_RDONLY | O_NONBLOCK));
  struct stat source_stat;
  if (!in.ok() || ::fstat(in.get(), &source_stat) != 0 || !S_ISREG(source_stat.st_mode) || name.empty())
    return fail(kReadErrorText);
  ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
  const uint64_t total = static_cast<uint64_t>(source_stat.st_size);
  auto progress = [&](uint64_t bytes, bool verifying) {
    if (progress_) progress_({index, count(), bytes, total, verifying});
  };
  progress(0, false);

  auto buffer = std::make_unique<unsigned char[]>(kCopyBlockBytes);
  Fingerprint read_fingerprint;

  // A file already under the name: the source itself is skipped, an
  // identical copy too; any other file stays as it is and the file fails.
  struct stat target_stat;
  if (::stat(target.c_str(), &target_stat) == 0 && target_stat.st_dev == source_stat.st_dev &&
      target_stat.st_ino == source_stat.st_ino)
    return done(FileOutcome::Skipped);
  if (::lstat(target.c_str(), &target_stat) == 0) {
    if (!S_ISREG(target_stat.st_mode) || target_stat.st_size != source_stat.st_size) return fail(kCreateErrorText);
    Fd existing(OpenRetrying(target.c_str(), O_RDONLY | O_NONBLOCK));
    if (!existing.ok()) return fail(kCreateErrorText);
    Fingerprint theirs;
    const ReadResult a = ReadFingerprint(in.get(), buffer.get(), running_, {}, read_fingerprint);
    if (a == ReadResult::Cancelled) return done(FileOutcome::Cancelled);
    if (a == ReadResult::Failed) return fail(kReadErrorText);
    const ReadResult b = ReadFingerprint(existing.get(), buffer.get(), running_, {}, theirs);
    if (b == ReadResult::Cancelled) return done(FileOutcome::Cancelled);
    if (b == ReadResult::Failed || !(theirs == read_fingerprint)) return fail(kCreateErrorText);
    return done(FileOutcome::Skipped);
  }
  if (errno != ENOENT) return fail(kCreateErrorText);

  // The copy goes to a temporary name, so a cancelled or failed copy never
  // looks like a recording; it is removed on every way out but success.
  std::string temp;
  Fd out;
  for (int attempt = 0; attempt < 100 && !out.ok(); ++attempt) {
    temp = TempPathFor(destination_, name);
    out.Reset(OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (!out.ok() && errno != EEXIST) break;
  }
  if (!out.ok()) return fail(kCreateErrorText);
  struct TempRemover {
    const std::string& path;
    bool keep = false;
    ~TempRemover() {
      if (!keep) ::unlink(path.c_str());
    }
  } remover{temp};

  ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  FileChecksum read_sum;
  uint64_t written = 0;
  uint64_t handed_over = 0;  // bytes whose writeback was started
  for (;;) {
    if (!running_.load()) return done(FileOutcome::Cancelled);
    const ssize_t n = ReadSome(in.get(), buffer.get(), kCopyBlockBytes);
    if (n < 0) return fail(kReadErrorText);
    if (n == 0) break;
    read_sum.Update(buffer.get(), static_cast<size_t>(n));
    if (!WriteAll(out.get(), buffer.get(), static_cast<size_t>(n))) return fail(kWriteErrorText);
    written += static_cast<uint64_t>(n);
    if (written - handed_over >= kWritebackStep) {
      // Start writing this step out, and wait for the step before it: the
      // disk works while the next step is read.
      ::sync_file_range(out.get(), static_cast<off_t>(handed_over), static_cast<off_t>(written - handed_over),
                        SYNC_FILE_RANGE_WRITE);
      if (handed_over >= kWritebackStep)
        ::sync_file_range(out.get(), static_cast<off_t>(handed_over - kWritebackStep), kWritebackStep,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
      handed_over = written;
    }
    progress(written, false);
  }
  read_fingerprint = {read_sum.length(), read_sum.Digest()};
  in.Close();
  // A full disk or a failing device may only show when the data is flushed
  // or the file closed.
  if (::fsync(out.get()) != 0 || !out.Close()) return fail(kWriteErrorText);

  // Read the copy back: it counts only when it holds what was read.
  {
    Fd back(OpenRetrying(temp.c_str(), O_RDONLY));
    if (!back.ok()) return fail(kWriteErrorText);
    struct stat back_stat;
    if (::fstat(back.get(), &back_stat) != 0 || static_cast<uint64_t>(back_stat.st_size) != read_fingerprint.length)
      return fail(kWriteErrorText);
    Fingerprint copy;
    const ReadResult r = ReadFingerprint(back.get(), buffer.get(), running_,
                                         [&](uint64_t bytes) { progress(bytes, true); }, copy);
    if (r == ReadResult::Cancelled) return done(FileOutcome::Cancelled);
    if (r == ReadResult::Failed || !(copy == read_fingerprint)) return fail(kWriteErrorText);
  }

  const int renamed = RenameNoReplace(temp, target);
  if (renamed != 0) return fail(kCreateErrorText);
  remover.keep = true;
  SyncFolder(destination_);
  return done(FileOutcome::Copied);
}

}  // namespace tools
