#pragma once
// The backup copy: the files of a list copied one after the other into one
// folder, each under its own name. Headless: the backup dialog runs it on a
// worker thread and shows its status line, dravik-tool runs it in the
// foreground.
//
// A file goes to a hidden temporary name in the destination folder (".NAME.
// <pid>-<n>.part", which no scan lists as a recording), is flushed to the
// disk, read back and compared with what was read from the source (length
// and checksum), and only then renamed onto its name. So a copy that fails or
// is cancelled never looks like a recording: its temporary file is removed
// and no partial file is left, also when the disk fills up. A file of the
// same name already in the folder is never replaced: an identical one (same
// length and checksum) is skipped, another one fails the file. A source
// whose destination is the source itself (backing up into its own folder)
// is skipped.
//
// Two threads share the work: the calling thread copies a file while a
// second one flushes the file before it, reads it back and gives it its
// name, so that the disk and the check run while the next file is copied.
// Files are reported in list order. The first file that fails ends the run:
// a file copied meanwhile is abandoned (its temporary file removed) and
// files after it are not attempted.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

inline constexpr size_t kCopyBlockBytes = 102400;

// The failures' texts, as the status line shows them after "copy error:".
inline constexpr std::string_view kReadErrorText = "read error,source file is not exist";
inline constexpr std::string_view kCreateErrorText = "create file error,please check dist dir";
inline constexpr std::string_view kWriteErrorText = "write error,Disk space maybe  not enough";
inline constexpr std::string_view kCancelledText = "cancelled";

enum class FileOutcome { Copied, Skipped, Failed, Cancelled };

// What became of one file of the list.
struct FileReport {
  int index = 0;
  std::string source;
  std::string destination;
  FileOutcome outcome = FileOutcome::Copied;
  std::string error;  // one of the texts above when failed
};

// Where a file's copy stands: when a file starts (done 0) and after every
// block copied, on the thread that runs the copy; after every block read
// back, on the read-back thread (so the two may come at the same time).
struct CopyProgress {
  int index = 0;
  int count = 0;
  uint64_t done = 0;   // bytes of this file copied (or read back)
  uint64_t total = 0;  // the source's length when it was opened
  bool verifying = false;
};

class BackupCopy {
 public:
  BackupCopy(std::vector<std::string> sources, std::string destination);
  ~BackupCopy();
  BackupCopy(const BackupCopy&) = delete;
  BackupCopy& operator=(const BackupCopy&) = delete;

  // Set before Run. `file_done` comes on the read-back thread, once per
  // file in list order, never for a file after the one that failed.
  void set_progress(std::function<void(const CopyProgress&)> progress) { progress_ = std::move(progress); }
  void set_file_done(std::function<void(const FileReport&)> file_done) { file_done_ = std::move(file_done); }

  // Copies the list in order, once, and returns when every file has been
  // dealt with. True when every file was copied or skipped; false after a
  // failure or a cancel.
  bool Run();
  // Asks the run to stop (any thread, also from the callbacks): the file
  // being copied is abandoned within a block and its temporary file removed.
  void Cancel() { cancel_.store(true); }

  // Read from any thread while the run goes on.
  bool running() const { return !cancel_.load() && !stop_.load() && !finished(); }
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  int index() const { return index_.load(); }
  int count() const { return static_cast<int>(sources_.size()); }
  int copied() const { return copied_.load(); }
  int skipped() const { return skipped_.load(); }
  int failed() const { return failed_.load(); }
  // After the run: true when it went through the whole list.
  bool success() const { return finished() && success_; }
  // After the run: the failure's text (kCancelledText after a cancel).
  std::string error_text() const;

  // "copying NAME i/n" while the run goes on, then "back up success" or
  // "copy error:TEXT".
  std::string StatusText() const;

  const std::vector<std::string>& sources() const { return sources_; }
  const std::string& destination() const { return destination_; }

 private:
  struct Stage;
  void CopyToTemp(int index, Stage& stage);
  void ReadBackLoop();
  void Finish(Stage& stage);
  void Report(const FileReport& report);

  const std::vector<std::string> sources_;
  const std::string destination_;
  std::function<void(const CopyProgress&)> progress_;
  std::function<void(const FileReport&)> file_done_;

  // Written by the two threads of the run, read by any.
  std::atomic<bool> cancel_{false};    // Cancel()
  std::atomic<bool> stop_{false};      // a file failed
  std::atomic<bool> finished_{false};  // set last: success_ and error_ are final
  std::atomic<int> index_{0};          // the file being copied
  std::atomic<int> copied_{0};
  std::atomic<int> skipped_{0};
  std::atomic<int> failed_{0};
  bool success_ = false;  // final once finished_ is set
  std::string error_;     // owned by the read-back thread until finished_ is set
  bool started_ = false;  // owned by the thread that calls Run

  // Files handed from the copy to the read-back, in list order.
  std::mutex handover_lock_;
  std::condition_variable handover_changed_;
  std::deque<std::unique_ptr<Stage>> handover_;  // guarded by handover_lock_; null: the end
};

// The name a file keeps in the destination folder: what follows the last
// '/' or '\\' of its path.
std::string_view BaseName(std::string_view path);

}  // namespace tools
