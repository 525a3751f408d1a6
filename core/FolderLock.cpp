#include "FolderLock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "Errors.h"
#include "FileReading.h"
#include "Paths.h"
#include "TextLines.h"

namespace quorvel {

namespace {

double gLockWaitLimit = kDefaultLockWaitSeconds;
LockWaitHandler gLockWaitHandler = nullptr;

// The default: says once who holds the lock, and gives up after the limit.
bool DefaultLockWait(const LockWait& wait) {
  if (wait.notice == 1) Warn(LockWaitMessage(wait));
  return wait.waitedSeconds < gLockWaitLimit;
}

double SecondsSince(const struct timespec& start) {
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) +
         static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

}  // namespace

void SetLockWaitLimit(double seconds) { gLockWaitLimit = seconds; }
double LockWaitLimit() { return gLockWaitLimit; }
void SetLockWaitHandler(LockWaitHandler handler) { gLockWaitHandler = handler; }

std::string LockWaitMessage(const LockWait& wait) {
  return "waiting for \"" + wait.lockPath + "\" held by " +
         (wait.holder > 0 ? "process " + std::to_string(wait.holder)
                          : std::string("another process"));
}

long FlockHolder(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return 0;
  std::string locks;
  int procFd = ::open("/proc/locks", O_RDONLY | O_CLOEXEC);
  if (procFd < 0) return 0;
  ReadFromDescriptor(procFd, locks, 1 << 20);
  ::close(procFd);
  // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; waiting requests carry "->".
  char want[64];
  std::snprintf(want, sizeof want, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long>(st.st_ino));
  long holder = 0;
  ForEachLine(locks, [&](std::string_view line) {
    if (holder != 0 || line.find("FLOCK") == std::string_view::npos ||
        line.find("->") != std::string_view::npos)
      return;
    char kind[16], advisory[16], mode[16], device[64];
    long pid = 0;
    if (std::sscanf(std::string(line).c_str(), "%*d: %15s %15s %15s %ld %63s", kind, advisory, mode,
                    &pid, device) == 5 &&
        std::string_view(device) == want)
      holder = pid;
  });
  return holder;
}

FolderLock::FolderLock(const std::string& dir, Mode mode) : path_(JoinPath(dir, kLockFileName)) {
  // O_NOFOLLOW: a symlink planted at the lock's name must not make us create a file elsewhere;
  // O_NONBLOCK: a pipe planted there must not hang the program.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
  if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EISDIR)) {
    const int writeError = errno;
    fd_ = ::open(path_.c_str(), O_RDONLY | kFlags);  // flock needs no write access
    if (fd_ < 0 && errno == ENOENT)
      errno = writeError;  // no lock file, and none can be made: say why
  }
  struct stat st {};
  if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd_);
    fd_ = -1;
    errno = EINVAL;
  }
  if (fd_ < 0) {
    openError_ = errno;
    return;
  }
  Change(mode);
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor lets the lock go
}

namespace {

// Interrupts this thread's blocking calls (EINTR) from `first` seconds on and every tenth of a
// second after, while it is armed: a blocking flock then wakes to tell the user who holds the
// lock, and a signal that came just before the call is followed by another. The signal goes to
// this thread only, and its handler does nothing.
class Interrupter {
 public:
  Interrupter() {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the blocking call returns EINTR
    ::sigaction(kSignal, &action, &old_);
    struct sigevent event {};
    event.sigev_notify = SIGEV_SIGNAL | SIGEV_THREAD_ID;
    event.sigev_signo = kSignal;
    event._sigev_un._tid = ::gettid();  // glibc 2.36 names the field only so
    created_ = ::timer_create(CLOCK_MONOTONIC, &event, &timer_) == 0;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, kSignal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, &oldMask_);
  }
  ~Interrupter() {
    if (created_) ::timer_delete(timer_);
    ::pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
    ::sigaction(kSignal, &old_, nullptr);
  }
  Interrupter(const Interrupter&) = delete;
  Interrupter& operator=(const Interrupter&) = delete;

  bool Works() const { return created_; }
  void Arm(double first) {
    struct itimerspec when {};
    first = std::max(first, 0.001);
    when.it_value.tv_sec = static_cast<time_t>(first);
    when.it_value.tv_nsec =
        static_cast<long>((first - static_cast<double>(when.it_value.tv_sec)) * 1e9);
    when.it_interval.tv_nsec = 100'000'000;
    if (created_) ::timer_settime(timer_, 0, &when, nullptr);
  }
  void Disarm() {
    struct itimerspec never {};
    if (created_) ::timer_settime(timer_, 0, &never, nullptr);
  }

 private:
  static inline const int kSignal = SIGRTMIN + 5;
  timer_t timer_{};
  bool created_ = false;
  struct sigaction old_ {};
  sigset_t oldMask_{};
};

}  // namespace

void FolderLock::Change(Mode mode) {
  if (fd_ < 0) return;
  const int operation = mode == Mode::kShared ? LOCK_SH : LOCK_EX;
  if (::flock(fd_, operation | LOCK_NB) == 0) return;
  struct timespec start {};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  double nextNotice = std::min(kLockNoticeSeconds, gLockWaitLimit);
  LockWait wait{path_, 0, 0.0, 0};
  // The wait itself blocks in the kernel, which hands the lock over as soon as it is let go (a
  // poll would lose it to a busy writer taking it again at once); the interrupter wakes it when
  // it is time to say who holds it.
  Interrupter interrupter;
  interrupter.Arm(nextNotice);
  for (;;) {
    const int flags = interrupter.Works() ? operation : operation | LOCK_NB;
    if (::flock(fd_, flags) == 0) return;
    if (errno != EINTR && errno != EWOULDBLOCK) {
      openError_ =
          errno;  // no locking here (some network file systems): go on as without a lock file
      ::close(fd_);
      fd_ = -1;
      return;
    }
    wait.waitedSeconds = SecondsSince(start);
    if (wait.waitedSeconds >= nextNotice) {
      interrupter.Disarm();  // nothing interrupts the handler, which may show a box
      wait.holder = FlockHolder(fd_);
      ++wait.notice;
      const bool goOn = (gLockWaitHandler ? gLockWaitHandler : DefaultLockWait)(wait);
      if (!goOn) {
        ::close(fd_);
        fd_ = -1;
        throw LockWaitError(LockWaitMessage(wait), wait.waitedSeconds);
      }
      // A handler that asked the user may have taken a while: the next notice is a second on,
      // or at the default handler's limit.
      nextNotice = SecondsSince(start) + kLockNoticeSeconds;
      if (!gLockWaitHandler && gLockWaitLimit > wait.waitedSeconds)
        nextNotice = std::min(nextNotice, gLockWaitLimit);
      interrupter.Arm(nextNotice - SecondsSince(start));
    }
    if (!interrupter.Works()) {
      struct timespec pause {
        0, 5'000'000
      };
      ::nanosleep(&pause, nullptr);
    }
  }
}

}  // namespace quorvel
