#include "tests/support/FailingDisk.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tests/support/TestMedia.h"

#ifdef TW_HAVE_FUSE3
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#endif

namespace tw::test {

struct FailingDisk::State {
  std::string mount, backing, why;
  bool mounted = false;

  struct Rule {
    bool on = false;
    std::string namePart;
    size_t bytesLeft = 0;
  };
  std::mutex lock;  // guards rules and failures: the file system's thread and the test share them
  std::array<Rule, 4> rules;
  int failures = 0;

#ifdef TW_HAVE_FUSE3
  struct fuse* fuse = nullptr;
  std::thread loop;
  std::mutex doneLock;
  std::condition_variable doneChanged;
  bool loopDone = false;
#endif

  // -EIO when op on path fails now; otherwise 0, with *bytes cut to what may still pass.
  int Check(Op op, const std::string& path, size_t* bytes = nullptr) {
    std::lock_guard<std::mutex> hold(lock);
    Rule& rule = rules[static_cast<size_t>(op)];
    if (!rule.on || path.find(rule.namePart) == std::string::npos) return 0;
    if (bytes == nullptr || rule.bytesLeft == 0) {
      ++failures;
      return -EIO;
    }
    *bytes = std::min(*bytes, rule.bytesLeft);
    rule.bytesLeft -= *bytes;
    return 0;
  }
};

#ifdef TW_HAVE_FUSE3
namespace {

using State = FailingDisk::State;
using Op = FailingDisk::Op;

State& S() {
  return *static_cast<State*>(fuse_get_context()->private_data);
}
std::string B(const char* path) {
  return S().backing + path;
}
int Err(int result) {
  return result < 0 ? -errno : 0;
}

// An open file: its backing descriptor and the name it was opened under (the file system runs
// with hard_remove, so reads and writes of an unlinked file come without a path).
struct OpenFile {
  int fd;
  std::string path;
};
OpenFile& F(fuse_file_info* fi) {
  return *reinterpret_cast<OpenFile*>(fi->fh);
}

void* Init(fuse_conn_info*, fuse_config* cfg) {
  cfg->use_ino = 0;
  cfg->entry_timeout = cfg->attr_timeout = cfg->negative_timeout = 0;
  cfg->direct_io = 1;  // every read and write reaches the file system, none is served from a cache
  cfg->hard_remove = 1;
  cfg->nullpath_ok = 1;
  return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info* fi) {
  return Err(fi ? fstat(F(fi).fd, st) : lstat(B(path).c_str(), st));
}

int Access(const char* path, int mask) {
  return Err(access(B(path).c_str(), mask));
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  DIR* dir = opendir(B(path).c_str());
  if (!dir) return -errno;
  while (dirent* entry = readdir(dir))
    fill(buf, entry->d_name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  closedir(dir);
  return 0;
}

int MkDir(const char* path, mode_t mode) {
  return Err(mkdir(B(path).c_str(), mode));
}
int Unlink(const char* path) {
  return Err(unlink(B(path).c_str()));
}
int RmDir(const char* path) {
  return Err(rmdir(B(path).c_str()));
}
int ChMod(const char* path, mode_t mode, fuse_file_info* fi) {
  return Err(fi ? fchmod(F(fi).fd, mode) : chmod(B(path).c_str(), mode));
}
int ChOwn(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
  return Err(fi ? fchown(F(fi).fd, uid, gid) : lchown(B(path).c_str(), uid, gid));
}
int Truncate(const char* path, off_t size, fuse_file_info* fi) {
  return Err(fi ? ftruncate(F(fi).fd, size) : truncate(B(path).c_str(), size));
}
int UTimeNs(const char* path, const timespec ts[2], fuse_file_info* fi) {
  return Err(fi ? futimens(F(fi).fd, ts) : utimensat(AT_FDCWD, B(path).c_str(), ts, AT_SYMLINK_NOFOLLOW));
}
int StatFs(const char* path, struct statvfs* st) {
  return Err(statvfs(B(path).c_str(), st));
}

int Rename(const char* from, const char* to, unsigned int flags) {
  if (flags & ~static_cast<unsigned>(RENAME_NOREPLACE)) return -EINVAL;
  if (int e = S().Check(Op::Rename, from); e != 0) return e;
  if (int e = S().Check(Op::Rename, to); e != 0) return e;
  return Err(renameat2(AT_FDCWD, B(from).c_str(), AT_FDCWD, B(to).c_str(), flags));
}

int OpenAt(const char* path, int flags, mode_t mode, fuse_file_info* fi) {
  const int fd = open(B(path).c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) return -errno;
  fi->fh = reinterpret_cast<uint64_t>(new OpenFile{fd, path});
  return 0;
}
int Open(const char* path, fuse_file_info* fi) {
  return OpenAt(path, fi->flags, 0, fi);
}
int Create(const char* path, mode_t mode, fuse_file_info* fi) {
  return OpenAt(path, fi->flags, mode, fi);
}

int Release(const char*, fuse_file_info* fi) {
  close(F(fi).fd);
  delete &F(fi);
  return 0;
}

int Read(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  if (int e = S().Check(Op::Read, F(fi).path, &size); e != 0) return e;
  const ssize_t n = pread(F(fi).fd, buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Write(const char*, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  if (int e = S().Check(Op::Write, F(fi).path, &size); e != 0) return e;
  const ssize_t n = pwrite(F(fi).fd, buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int FSync(const char*, int dataOnly, fuse_file_info* fi) {
  if (int e = S().Check(Op::Fsync, F(fi).path); e != 0) return e;
  return Err(dataOnly ? fdatasync(F(fi).fd) : fsync(F(fi).fd));
}

fuse_operations Operations() {
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.access = Access;
  ops.readdir = ReadDir;
  ops.mkdir = MkDir;
  ops.unlink = Unlink;
  ops.rmdir = RmDir;
  ops.rename = Rename;
  ops.chmod = ChMod;
  ops.chown = ChOwn;
  ops.truncate = Truncate;
  ops.utimens = UTimeNs;
  ops.statfs = StatFs;
  ops.open = Open;
  ops.create = Create;
  ops.read = Read;
  ops.write = Write;
  ops.fsync = FSync;
  ops.release = Release;
  return ops;
}

// The file system's thread waits in a read of /dev/fuse; this signal, caught without restarting
// that read, wakes it to see that the session has ended.
constexpr int kWakeSignal = SIGURG;

void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(kWakeSignal, &action, nullptr);
  });
}

}  // namespace

FailingDisk::FailingDisk() : state_(std::make_unique<State>()) {
  State& s = *state_;
  const std::string dir = TempDir();
  s.mount = dir + "/failing-disk";
  s.backing = dir + "/failing-disk-backing";
  std::filesystem::create_directories(s.mount);
  std::filesystem::create_directories(s.backing);
  if (access("/dev/fuse", R_OK | W_OK) != 0) {
    s.why = std::string("no FUSE here: /dev/fuse: ") + std::strerror(errno);
    return;
  }
  const char* argv[] = {"tw-failing-disk", "-o", "allow_other,fsname=tw-failing-disk", nullptr};
  fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
  const fuse_operations ops = Operations();
  s.fuse = fuse_new(&args, &ops, sizeof ops, &s);
  fuse_opt_free_args(&args);
  if (!s.fuse) {
    s.why = "no FUSE here: the file system cannot be made";
    return;
  }
  if (fuse_mount(s.fuse, s.mount.c_str()) != 0) {
    s.why = "no FUSE here: a FUSE file system cannot be mounted (needs the right to mount)";
    fuse_destroy(s.fuse);
    s.fuse = nullptr;
    return;
  }
  InstallWakeHandler();
  s.loop = std::thread([&s] {
    fuse_loop(s.fuse);
    std::lock_guard<std::mutex> hold(s.doneLock);
    s.loopDone = true;
    s.doneChanged.notify_all();
  });
  s.mounted = true;
}

FailingDisk::~FailingDisk() {
  State& s = *state_;
  if (!s.mounted) return;
  fuse_exit(s.fuse);
  fuse_unmount(s.fuse);
  // The loop sees the end when the kernel drops the connection or, while a file is still open
  // under the detached mount, when the signal breaks its wait.
  std::unique_lock<std::mutex> hold(s.doneLock);
  while (!s.loopDone) {
    pthread_kill(s.loop.native_handle(), kWakeSignal);
    s.doneChanged.wait_for(hold, std::chrono::milliseconds(20));
  }
  hold.unlock();
  s.loop.join();
  fuse_destroy(s.fuse);  // closes /dev/fuse: whatever still waits on the mount gets an error
}

#else

FailingDisk::FailingDisk() : state_(std::make_unique<State>()) {
  state_->why = "no FUSE here: the tests were built without libfuse3";
}
FailingDisk::~FailingDisk() = default;

#endif

bool FailingDisk::Ok() const {
  return state_->mounted;
}
const std::string& FailingDisk::Why() const {
  return state_->why;
}
const std::string& FailingDisk::Path() const {
  return state_->mount;
}
const std::string& FailingDisk::Backing() const {
  return state_->backing;
}

void FailingDisk::Fail(Op op, const std::string& namePart, size_t afterBytes) {
  std::lock_guard<std::mutex> hold(state_->lock);
  state_->rules[static_cast<size_t>(op)] = {true, namePart, afterBytes};
}

void FailingDisk::Heal() {
  std::lock_guard<std::mutex> hold(state_->lock);
  for (State::Rule& rule : state_->rules) rule.on = false;
}

int FailingDisk::Failures() const {
  std::lock_guard<std::mutex> hold(state_->lock);
  return state_->failures;
}

}  // namespace tw::test
