// The backup copy on real files: the status line through a run, what a run
// leaves in the destination folder when it succeeds, fails (a folder that
// cannot be written, a disk that fills up, a copy that does not read back
// as its source) or is cancelled, files already there, and the checksum.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tools/BackupCopy.h"
#include "tools/FileChecksum.h"

// The flushes and cache drops the copy asks the kernel for, by file name, in
// the order they come: these stand in front of the C library's own (the copy
// is linked into this program), note the call and pass it on.
namespace {
std::mutex g_disk_calls_lock;
std::vector<std::string> g_disk_calls;  // "fsync NAME", "dontneed NAME", or a test's own mark

void NoteDiskCall(const std::string& text) {
  std::lock_guard lock(g_disk_calls_lock);
  g_disk_calls.push_back(text);
}

std::string NameOfDescriptor(int fd) {
  char target[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return "?";
  const std::string path(target, static_cast<size_t>(n));
  return path.substr(path.find_last_of('/') + 1);
}

template <typename Function>
Function NextDefinition(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int fsync(int fd) {
  static const auto real = NextDefinition<int (*)(int)>("fsync");
  NoteDiskCall("fsync " + NameOfDescriptor(fd));
  return real(fd);
}

extern "C" int posix_fadvise(int fd, off_t offset, off_t length, int advice) {
  static const auto real = NextDefinition<int (*)(int, off_t, off_t, int)>("posix_fadvise");
  if (advice == POSIX_FADV_DONTNEED) NoteDiskCall("dontneed " + NameOfDescriptor(fd));
  return real(fd, offset, length, advice);
}

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using tools::BackupCopy;
using tools::CopyProgress;
using tools::FileReport;

// Bytes that differ from file to file and from block to block (a fixed
// generator: every run writes the same files).
std::string Pattern(size_t size, uint32_t salt) {
  std::string bytes(size, '\0');
  uint32_t x = 2463534242u ^ salt;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

std::string MakeFile(const fs::path& path, size_t size, uint32_t salt) {
  fs::create_directories(path.parent_path());
  WriteFileBytes(path, Pattern(size, salt));
  return path.string();
}

// Every name in a folder, hidden ones too.
std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

std::vector<fs::path> TemporaryFiles(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().ends_with(".part")) found.push_back(entry.path());
  return found;
}

const std::string kCreateError = "copy error:create file error,please check dist dir";
const std::string kWriteError = "copy error:write error,Disk space maybe  not enough";

TEST(BackupCopy, IntoTheSourcesOwnFolderCopiesNothing) {
  TempDir dir;
  const std::string a = MakeFile(dir / "20240315080000_1000.qvv", 300000, 1);
  const std::string b = MakeFile(dir / "20240315080100_0100.qvv", 1000, 2);
  // The folder named three ways: as it is, with "/." and with a trailing '/'.
  for (const std::string& destination : {dir.path().string(), (dir / ".").string(), dir.path().string() + "/"}) {
    BackupCopy copy({a, b}, destination);
    EXPECT_TRUE(copy.Run()) << destination;
    EXPECT_EQ(copy.StatusText(), "back up success");
    EXPECT_EQ(copy.copied(), 0);
    EXPECT_EQ(copy.skipped(), 2);
  }
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"20240315080000_1000.qvv", "20240315080100_0100.qvv"}));
  EXPECT_EQ(ReadFileBytes(a), Pattern(300000, 1));
}

TEST(BackupCopy, StatusCountsEveryFileThenSuccess) {
  TempDir dir;
  std::vector<std::string> sources = {MakeFile(dir / "in/a.qvv", 250000, 1), MakeFile(dir / "in/day2/b.avi", 0, 2),
                                      MakeFile(dir / "in/c.mp4", 102400, 3)};
  const fs::path out = dir / "out";
  fs::create_directory(out);
  BackupCopy copy(sources, out.string());
  EXPECT_EQ(copy.StatusText(), "copying a.qvv 1/3") << "set up: the first file";
  std::vector<std::string> shown;
  std::vector<FileReport> reports;
  copy.set_progress([&](const CopyProgress& p) {
    if (p.done == 0 && !p.verifying) shown.push_back(copy.StatusText());
  });
  copy.set_file_done([&](const FileReport& r) { reports.push_back(r); });
  EXPECT_TRUE(copy.Run());
  EXPECT_EQ(shown, (std::vector<std::string>{"copying a.qvv 1/3", "copying b.avi 2/3", "copying c.mp4 3/3"}));
  EXPECT_EQ(copy.StatusText(), "back up success");
  EXPECT_TRUE(copy.success());
  EXPECT_FALSE(copy.running());
  EXPECT_EQ(copy.copied(), 3);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1].destination, (out / "b.avi").string());
  EXPECT_EQ(Names(out), (std::set<std::string>{"a.qvv", "b.avi", "c.mp4"})) << "no temporary file stays";
  for (const auto& source : sources) EXPECT_EQ(ReadFileBytes(out / fs::path(source).filename()), ReadFileBytes(source));
}

TEST(BackupCopy, TheFirstFailureEndsTheRun) {
  TempDir dir;
  const std::string a = MakeFile(dir / "in/a.qvv", 5000, 1);
  const std::string b = MakeFile(dir / "in/b.qvv", 5000, 2);
  // A folder below a regular file cannot be written, by root either.
  WriteFileBytes(dir / "plain-file", "x");
  {
    int attempted = 0;
    BackupCopy copy({a, b}, (dir / "plain-file" / "out").string());
    copy.set_file_done([&](const FileReport&) { ++attempted; });
    EXPECT_FALSE(copy.Run());
    EXPECT_EQ(copy.StatusText(), kCreateError);
    EXPECT_EQ(attempted, 1) << "files after the failing one are not attempted";
    EXPECT_EQ(copy.failed(), 1);
  }
  {
    // A source that is gone: the files copied before it stay.
    const fs::path out = dir / "out";
    fs::create_directory(out);
    BackupCopy copy({a, (dir / "in/missing.qvv").string(), b}, out.string());
    EXPECT_FALSE(copy.Run());
    EXPECT_EQ(copy.StatusText(), "copy error:read error,source file is not exist");
    EXPECT_EQ(copy.copied(), 1);
    EXPECT_EQ(Names(out), std::set<std::string>{"a.qvv"});
  }
  {
    // A folder is no file to copy.
    BackupCopy copy({(dir / "in").string()}, (dir / "out").string());
    EXPECT_FALSE(copy.Run());
    EXPECT_EQ(copy.StatusText(), "copy error:read error,source file is not exist");
  }
}

TEST(BackupCopy, FilesAlreadyThereAreNeverReplaced) {
  TempDir dir;
  const std::string a = MakeFile(dir / "in/a.qvv", 200000, 1);
  const std::string b = MakeFile(dir / "in/b.qvv", 200000, 2);
  const std::string c = MakeFile(dir / "in/c.qvv", 1000, 3);
  const fs::path out = dir / "out";
  MakeFile(out / "a.qvv", 200000, 1);  // the same bytes: skipped
  std::string other = Pattern(200000, 2);
  other[150000] ^= 1;  // same length, one bit apart
  WriteFileBytes(out / "b.qvv", other);
  WriteFileBytes(out / "c.qvv", "shorter");

  BackupCopy copy({a, b}, out.string());
  EXPECT_FALSE(copy.Run());
  EXPECT_EQ(copy.StatusText(), kCreateError);
  EXPECT_EQ(copy.skipped(), 1);
  EXPECT_EQ(copy.failed(), 1);
  EXPECT_EQ(ReadFileBytes(out / "b.qvv"), other) << "the different file keeps its bytes";

  BackupCopy second({c}, out.string());
  EXPECT_FALSE(second.Run());
  EXPECT_EQ(second.StatusText(), kCreateError);
  EXPECT_EQ(ReadFileBytes(out / "c.qvv"), "shorter");
  EXPECT_EQ(Names(out), (std::set<std::string>{"a.qvv", "b.qvv", "c.qvv"}));
}

TEST(BackupCopy, CancelInsideALargeFileLeavesNoFile) {
  TempDir dir;
  const std::string big = MakeFile(dir / "in/big.qvv", 40 * tools::kCopyBlockBytes + 123, 1);
  const std::string next = MakeFile(dir / "in/next.qvv", 1000, 2);
  const fs::path out = dir / "out";
  fs::create_directory(out);

  // While copying: cancelled after the third block. The copy is under a
  // hidden temporary name until then, and nothing more is copied after it.
  {
    BackupCopy copy({big, next}, out.string());
    uint64_t furthest = 0;
    std::vector<fs::path> during;
    copy.set_progress([&](const CopyProgress& p) {
      if (p.verifying) return;
      furthest = std::max(furthest, p.done);
      if (p.done == 3 * tools::kCopyBlockBytes) {
        during = TemporaryFiles(out);
        copy.Cancel();
      }
    });
    EXPECT_FALSE(copy.Run());
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].filename().string().front(), '.');
    EXPECT_EQ(furthest, 3 * tools::kCopyBlockBytes) << "the cancel takes effect before the next block";
    EXPECT_EQ(copy.StatusText(), "copy error:cancelled");
    EXPECT_EQ(copy.copied(), 0);
    EXPECT_TRUE(Names(out).empty());
  }
  // While reading the copy back.
  {
    BackupCopy copy({big}, out.string());
    copy.set_progress([&](const CopyProgress& p) {
      if (p.verifying && p.done >= 5 * tools::kCopyBlockBytes) copy.Cancel();
    });
    EXPECT_FALSE(copy.Run());
    EXPECT_TRUE(Names(out).empty());
  }
}

TEST(BackupCopy, ACopyThatDoesNotReadBackAsItsSourceFails) {
  TempDir dir;
  const size_t size = 10 * tools::kCopyBlockBytes;
  const std::vector<std::string> sources = {MakeFile(dir / "in/a.qvv", size, 1), MakeFile(dir / "in/b.qvv", size, 2),
                                            MakeFile(dir / "in/c.qvv", 1000, 3)};
  const fs::path out = dir / "out";
  fs::create_directory(out);
  BackupCopy copy(sources, out.string());
  // a is read back while b is copied. a's read-back waits at its first block
  // until b's copy is at its second block; another program then changes a's
  // last byte. b's copy waits there until a has been reported, and must then
  // be abandoned.
  const auto bound = std::chrono::minutes(2);
  std::promise<void> b_at_block_two;
  std::shared_future<void> b_at_block_two_future = b_at_block_two.get_future().share();
  std::promise<void> a_reported;
  std::shared_future<void> a_reported_future = a_reported.get_future().share();
  bool damaged = false;
  size_t temporary_files_meanwhile = 0;
  copy.set_progress([&](const CopyProgress& p) {
    if (!p.verifying && p.index == 1 && p.done == 2 * tools::kCopyBlockBytes) {
      temporary_files_meanwhile = TemporaryFiles(out).size();
      b_at_block_two.set_value();
      EXPECT_EQ(a_reported_future.wait_for(bound), std::future_status::ready) << "a is never reported";
    }
    if (!p.verifying || p.index != 0 || damaged) return;
    EXPECT_EQ(b_at_block_two_future.wait_for(bound), std::future_status::ready) << "b's copy never gets to block 2";
    for (const auto& temp : TemporaryFiles(out)) {
      if (!temp.filename().string().starts_with(".a.qvv.")) continue;
      const int fd = ::open(temp.c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      const char byte = static_cast<char>(~Pattern(size, 1).back());
      ASSERT_EQ(::pwrite(fd, &byte, 1, static_cast<off_t>(size - 1)), 1);
      ::close(fd);
      damaged = true;
    }
  });
  std::vector<FileReport> reports;
  copy.set_file_done([&](const FileReport& r) {
    reports.push_back(r);
    if (r.index == 0) a_reported.set_value();
  });
  EXPECT_FALSE(copy.Run());
  EXPECT_TRUE(damaged);
  EXPECT_EQ(temporary_files_meanwhile, 2u) << "a read back while b is copied";
  EXPECT_EQ(copy.StatusText(), kWriteError);
  ASSERT_EQ(reports.size(), 1u) << "nothing after the failure is reported";
  EXPECT_EQ(reports[0].outcome, tools::FileOutcome::Failed);
  EXPECT_EQ(copy.copied(), 0);
  EXPECT_TRUE(Names(out).empty()) << "neither a nor the abandoned b stays";
}

// The disk calls noted since the last call that name a file starting with
// one of `prefixes` (a temporary file by its name alone, ".a.qvv"), and the
// test's own marks; the notes are cleared.
std::vector<std::string> DiskCallsFor(const std::vector<std::string>& prefixes) {
  std::lock_guard lock(g_disk_calls_lock);
  std::vector<std::string> kept;
  for (const std::string& call : g_disk_calls) {
    const size_t space = call.find(' ');
    std::string name = call.substr(space + 1);
    const bool ours = std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& p) { return name.starts_with(p); });
    if (!ours && !call.starts_with("mark ")) continue;
    if (name.ends_with(".part")) name = name.substr(0, name.rfind('.', name.size() - 6));
    kept.push_back(call.substr(0, space) + " " + name);
  }
  g_disk_calls.clear();
  return kept;
}

TEST(BackupCopy, TheCopyIsFlushedBeforeItIsReadBack) {
  TempDir dir;
  const std::string a = MakeFile(dir / "in/a.qvv", 3 * tools::kCopyBlockBytes + 7, 1);
  const fs::path out = dir / "out";
  fs::create_directory(out);
  DiskCallsFor({});
  BackupCopy copy({a}, out.string());
  bool marked = false;
  copy.set_progress([&](const CopyProgress& p) {
    if (p.verifying && !marked) {
      NoteDiskCall("mark read-back");
      marked = true;
    }
  });
  EXPECT_TRUE(copy.Run());
  EXPECT_EQ(DiskCallsFor({".a.qvv."}),
            (std::vector<std::string>{"fsync .a.qvv", "mark read-back"}));
  EXPECT_EQ(ReadFileBytes(out / "a.qvv"), ReadFileBytes(a));
}

TEST(BackupCopy, ACancelWhileAFileWaitsForItsFlushDropsItUnflushed) {
  TempDir dir;
  const std::vector<std::string> sources = {MakeFile(dir / "in/x.qvv", 3 * tools::kCopyBlockBytes, 1),
                                            MakeFile(dir / "in/a.qvv", 3 * tools::kCopyBlockBytes, 2),
                                            MakeFile(dir / "in/b.qvv", 3 * tools::kCopyBlockBytes, 3)};
  const fs::path out = dir / "out";
  fs::create_directory(out);
  DiskCallsFor({});
  BackupCopy copy(sources, out.string());
  // x's read-back waits at its first block. Meanwhile a is copied and handed
  // over (it waits behind x), and b starts: the cancel comes then, and only
  // then does x's read-back go on. a, waiting for its flush, is dropped
  // without one.
  const auto bound = std::chrono::minutes(2);
  std::promise<void> x_reading, cancelled;
  std::shared_future<void> x_reading_future = x_reading.get_future().share();
  std::shared_future<void> cancelled_future = cancelled.get_future().share();
  bool x_held = false;
  copy.set_progress([&](const CopyProgress& p) {
    if (p.verifying && p.index == 0 && !x_held) {
      x_held = true;
      x_reading.set_value();
      EXPECT_EQ(cancelled_future.wait_for(bound), std::future_status::ready) << "b's copy never starts";
    }
    if (!p.verifying && p.index == 2 && p.done == 0) {
      EXPECT_EQ(x_reading_future.wait_for(bound), std::future_status::ready) << "x is never read back";
      copy.Cancel();
      cancelled.set_value();
    }
  });
  std::vector<FileReport> reports;
  copy.set_file_done([&](const FileReport& r) { reports.push_back(r); });
  EXPECT_FALSE(copy.Run());
  EXPECT_EQ(copy.StatusText(), "copy error:cancelled");
  EXPECT_EQ(DiskCallsFor({".x.qvv.", ".a.qvv.", ".b.qvv."}),
            (std::vector<std::string>{"fsync .x.qvv"}))
      << "x was flushed before the cancel; a and b never are";
  ASSERT_EQ(reports.size(), 3u);
  for (const FileReport& r : reports) EXPECT_EQ(r.outcome, tools::FileOutcome::Cancelled) << r.source;
  EXPECT_EQ(copy.copied(), 0);
  EXPECT_TRUE(Names(out).empty()) << "no temporary file stays";
}

// Copies three files into `out`, where the second does not fit; what the
// run's status said and how many files it copied.
struct FullRun {
  std::string status;
  int copied = -1;
  int attempted = 0;
};

FullRun CopyIntoFullFolder(const std::vector<std::string>& sources, const fs::path& out) {
  FullRun run;
  BackupCopy copy(sources, out.string());
  copy.set_file_done([&](const FileReport&) { ++run.attempted; });
  copy.Run();
  run.status = copy.StatusText();
  run.copied = copy.copied();
  return run;
}

TEST(BackupCopy, AFullDiskEndsTheRunAndLeavesNoPartialFile) {
  TempDir dir;
  const std::vector<std::string> sources = {MakeFile(dir / "in/a.qvv", 200000, 1),
                                            MakeFile(dir / "in/b.qvv", 3 << 20, 2),
                                            MakeFile(dir / "in/c.qvv", 1000, 3)};
  // Files may not grow past 1 MiB in a child process (for any user).
  {
    const fs::path out = dir / "limited";
    fs::create_directory(out);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipe_fds[0]);
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{1 << 20, 1 << 20};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const FullRun run = CopyIntoFullFolder(sources, out);
      const std::string report =
          std::to_string(run.copied) + " " + std::to_string(run.attempted) + " " + run.status;
      const ssize_t written = ::write(pipe_fds[1], report.data(), report.size());
      ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    ::close(pipe_fds[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
    ::close(pipe_fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(report, "1 2 " + kWriteError) << "a copied, b failed, c not attempted";
    EXPECT_EQ(Names(out), std::set<std::string>{"a.qvv"});
  }
  // A real file system that fills up: a 1 MiB tmpfs, where mounting is allowed.
  const fs::path small = dir / "small";
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
    std::printf("(no tmpfs: the file-size limit stood for the full disk)\n");
    return;
  }
  const FullRun run = CopyIntoFullFolder(sources, small);
  EXPECT_EQ(run.status, kWriteError);
  EXPECT_EQ(run.copied, 1);
  EXPECT_EQ(run.attempted, 2);
  EXPECT_EQ(Names(small), std::set<std::string>{"a.qvv"});
  EXPECT_EQ(ReadFileBytes(small / "a.qvv"), ReadFileBytes(sources[0]));
  EXPECT_EQ(::umount2(small.c_str(), MNT_DETACH), 0);
}

TEST(FileChecksum, IsXxh64InAnyBlocking) {
  EXPECT_EQ(tools::ChecksumOf("", 0), 0xEF46DB3751D8E999ULL);
  EXPECT_EQ(tools::ChecksumOf("abc", 3), 0x44BC2CF5AD770999ULL);
  const std::string bytes = Pattern(1000, 7);
  for (size_t length : {0, 1, 3, 4, 7, 8, 31, 32, 33, 63, 64, 65, 999, 1000}) {
    const uint64_t whole = tools::ChecksumOf(bytes.data(), length);
    for (size_t step : {1, 5, 31, 32, 33, 100}) {
      tools::FileChecksum sum;
      for (size_t at = 0; at < length; at += step) sum.Update(bytes.data() + at, std::min(step, length - at));
      EXPECT_EQ(sum.Digest(), whole) << length << " in steps of " << step;
    }
  }
  std::string changed = bytes;
  changed[500] ^= 0x10;
  EXPECT_NE(tools::ChecksumOf(changed.data(), changed.size()), tools::ChecksumOf(bytes.data(), bytes.size()));
}

}  // namespace
