#include "tools/BackupCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

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
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
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
// checksum; `block` after every block read. Stops when `cancel` is set.
ReadResult ReadFingerprint(int fd, unsigned char* buffer, const std::atomic<bool>& cancel,
                           const std::function<void(uint64_t)>& block, Fingerprint& out) {
  FileChecksum sum;
  for (;;) {
    if (cancel.load()) return ReadResult::Cancelled;
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

// The length and checksum of the file at `path` (a regular file), or nothing.
std::optional<Fingerprint> FingerprintOf(const std::string& path, unsigned char* buffer, const std::atomic<bool>& cancel) {
  Fd fd(OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK));
  struct stat st;
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  Fingerprint print;
  if (ReadFingerprint(fd.get(), buffer, cancel, {}, print) != ReadResult::Done) return std::nullopt;
  return print;
}

}  // namespace

// A file between its copy and its read-back.
struct BackupCopy::Stage {
  FileReport report;  // Copied: the copy waits under `temp` for its read-back
  uint64_t total = 0;
  std::string temp;   // the temporary file, removed with the stage unless cleared
  Fd out;             // `temp`, written, still open
  Fingerprint read;   // what was read from the source

  ~Stage() { Discard(); }
  void Discard() {
    out.Close();
    if (!temp.empty()) ::unlink(temp.c_str());
    temp.clear();
  }
  void End(FileOutcome outcome, std::string_view error = {}) {
    report.outcome = outcome;
    report.error = std::string(error);
    if (outcome != FileOutcome::Copied) Discard();
  }
};

std::string_view BaseName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

BackupCopy::BackupCopy(std::vector<std::string> sources, std::string destination)
    : sources_(std::move(sources)), destination_(std::move(destination)) {}

BackupCopy::~BackupCopy() = default;

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
  std::thread read_back([this] { ReadBackLoop(); });
  auto hand_over = [this](std::unique_ptr<Stage> stage) {
    std::unique_lock lock(handover_lock_);
    // One file may wait while another is read back; the read-back takes
    // every file, so this wait ends.
    handover_changed_.wait(lock, [&] { return !stage || handover_.empty(); });
    handover_.push_back(std::move(stage));
    handover_changed_.notify_all();
  };
  for (int i = 0; i < count() && !cancel_.load() && !stop_.load(); ++i) {
    index_.store(i);
    auto stage = std::make_unique<Stage>();
    CopyToTemp(i, *stage);
    const bool failed = stage->report.outcome == FileOutcome::Failed;
    hand_over(std::move(stage));
    if (failed) break;
  }
  hand_over(nullptr);
  read_back.join();

  const bool complete = copied_.load() + skipped_.load() == count();
  // Stopped before the list's end without a failure: cancelled.
  if (!complete && error_.empty()) error_ = kCancelledText;
  success_ = complete;
  finished_.store(true, std::memory_order_release);
  return complete;
}

void BackupCopy::ReadBackLoop() {
  for (;;) {
    std::unique_ptr<Stage> stage;
    {
      std::unique_lock lock(handover_lock_);
      handover_changed_.wait(lock, [&] { return !handover_.empty(); });
      stage = std::move(handover_.front());
      handover_.pop_front();
      handover_changed_.notify_all();
    }
    if (!stage) return;
    // After a failure, what the copy still hands over is dropped (and its
    // temporary file removed with it).
    if (stop_.load()) continue;
    if (stage->report.outcome == FileOutcome::Copied) Finish(*stage);
    Report(stage->report);
  }
}

void BackupCopy::Report(const FileReport& report) {
  switch (report.outcome) {
    case FileOutcome::Copied: copied_.fetch_add(1); break;
    case FileOutcome::Skipped: skipped_.fetch_add(1); break;
    case FileOutcome::Failed:
      error_ = report.error;
      failed_.fetch_add(1);
      stop_.store(true);
      break;
    case FileOutcome::Cancelled: break;
  }
  if (file_done_) file_done_(report);
}

void BackupCopy::CopyToTemp(int index, Stage& stage) {
  const std::string& source = sources_[static_cast<size_t>(index)];
  const std::string_view name = BaseName(source);
  FileReport& report = stage.report;
  report.index = index;
  report.source = source;
  report.destination = destination_ + "/" + std::string(name);
  const std::string& target = report.destination;
  // The copy stops at a cancel and when a file before it failed its read-back.
  auto stopped = [this] { return cancel_.load() || stop_.load(); };

  // Not blocking on a pipe someone put in a recording's place; only regular
  // files are copied.
  Fd in(OpenRetrying(source.c_str(), O_RDONLY | O_NONBLOCK));
  struct stat source_stat;
  if (!in.ok() || ::fstat(in.get(), &source_stat) != 0 || !S_ISREG(source_stat.st_mode) || name.empty())
    return stage.End(FileOutcome::Failed, kReadErrorText);
  ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
  stage.total = static_cast<uint64_t>(source_stat.st_size);
  auto progress = [&](uint64_t bytes) {
    if (progress_) progress_({index, count(), bytes, stage.total, false});
  };
  progress(0);

  auto buffer = std::make_unique<unsigned char[]>(kCopyBlockBytes);

  // A file already under the name: the source itself is skipped, an
  // identical copy too; any other file stays as it is and the file fails.
  struct stat target_stat;
  if (::stat(target.c_str(), &target_stat) == 0 && target_stat.st_dev == source_stat.st_dev &&
      target_stat.st_ino == source_stat.st_ino)
    return stage.End(FileOutcome::Skipped);
  if (::lstat(target.c_str(), &target_stat) == 0) {
    if (!S_ISREG(target_stat.st_mode) || target_stat.st_size != source_stat.st_size)
      return stage.End(FileOutcome::Failed, kCreateErrorText);
    Fingerprint ours;
    const ReadResult r = ReadFingerprint(in.get(), buffer.get(), cancel_, {}, ours);
    if (r == ReadResult::Cancelled) return stage.End(FileOutcome::Cancelled);
    if (r == ReadResult::Failed) return stage.End(FileOutcome::Failed, kReadErrorText);
    const auto theirs = FingerprintOf(target, buffer.get(), cancel_);
    if (cancel_.load()) return stage.End(FileOutcome::Cancelled);
    if (!theirs || !(*theirs == ours)) return stage.End(FileOutcome::Failed, kCreateErrorText);
    return stage.End(FileOutcome::Skipped);
  }
  if (errno != ENOENT) return stage.End(FileOutcome::Failed, kCreateErrorText);

  // The copy goes to a temporary name, so a cancelled or failed copy never
  // looks like a recording; the stage removes it on every way out but success.
  for (int attempt = 0; attempt < 100 && !stage.out.ok(); ++attempt) {
    const std::string temp = TempPathFor(destination_, name);
    stage.out.Reset(OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (stage.out.ok()) stage.temp = temp;
    else if (errno != EEXIST) break;
  }
  if (!stage.out.ok()) return stage.End(FileOutcome::Failed, kCreateErrorText);

  ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  FileChecksum read_sum;
  uint64_t written = 0;
  uint64_t handed_over = 0;  // bytes whose writeback was started
  for (;;) {
    if (stopped()) return stage.End(FileOutcome::Cancelled);
    const ssize_t n = ReadSome(in.get(), buffer.get(), kCopyBlockBytes);
    if (n < 0) return stage.End(FileOutcome::Failed, kReadErrorText);
    if (n == 0) break;
    read_sum.Update(buffer.get(), static_cast<size_t>(n));
    if (!WriteAll(stage.out.get(), buffer.get(), static_cast<size_t>(n)))
      return stage.End(FileOutcome::Failed, kWriteErrorText);
    written += static_cast<uint64_t>(n);
    if (written - handed_over >= kWritebackStep) {
      // The disk starts on this step while the next one is read.
      ::sync_file_range(stage.out.get(), static_cast<off_t>(handed_over), static_cast<off_t>(written - handed_over),
                        SYNC_FILE_RANGE_WRITE);
      handed_over = written;
    }
    progress(written);
  }
  stage.read = {read_sum.length(), read_sum.Digest()};
  stage.End(FileOutcome::Copied);  // once read back
}

void BackupCopy::Finish(Stage& stage) {
  // A cancel that came while the file waited is not held up by the flush,
  // which may take long on a slow device: the copy is dropped unflushed.
  if (cancel_.load()) return stage.End(FileOutcome::Cancelled);
  // A full disk or a failing device may only show when the data is flushed
  // or the file closed.
  if (::fsync(stage.out.get()) != 0) return stage.End(FileOutcome::Failed, kWriteErrorText);
  if (!stage.out.Close()) return stage.End(FileOutcome::Failed, kWriteErrorText);
  if (cancel_.load()) return stage.End(FileOutcome::Cancelled);

  // Read the copy back: it counts only when it holds what was read.
  auto buffer = std::make_unique<unsigned char[]>(kCopyBlockBytes);
  {
    Fd back(OpenRetrying(stage.temp.c_str(), O_RDONLY));
    struct stat back_stat;
    if (!back.ok() || ::fstat(back.get(), &back_stat) != 0 ||
        static_cast<uint64_t>(back_stat.st_size) != stage.read.length)
      return stage.End(FileOutcome::Failed, kWriteErrorText);
    ::posix_fadvise(back.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    Fingerprint copy;
    const int index = stage.report.index;
    const ReadResult r = ReadFingerprint(back.get(), buffer.get(), cancel_, [&](uint64_t bytes) {
      if (progress_) progress_({index, count(), bytes, stage.total, true});
    }, copy);
    if (r == ReadResult::Cancelled) return stage.End(FileOutcome::Cancelled);
    if (r == ReadResult::Failed || !(copy == stage.read)) return stage.End(FileOutcome::Failed, kWriteErrorText);
  }

  const std::string& target = stage.report.destination;
  const int renamed = RenameNoReplace(stage.temp, target);
  if (renamed == EEXIST) {
    // The name was taken while the file was copied (the list named two files
    // alike): skipped when that file is the same, else never replaced.
    const auto theirs = FingerprintOf(target, buffer.get(), cancel_);
    return stage.End(theirs && *theirs == stage.read ? FileOutcome::Skipped : FileOutcome::Failed,
                     theirs && *theirs == stage.read ? std::string_view() : kCreateErrorText);
  }
  if (renamed != 0) return stage.End(FileOutcome::Failed, kCreateErrorText);
  stage.temp.clear();  // it is the copy now
  SyncFolder(destination_);
  stage.End(FileOutcome::Copied);
}

}  // namespace tools
