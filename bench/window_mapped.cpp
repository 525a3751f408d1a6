// Starts a program and reports how long its first top-level window took to be mapped, then its
// memory a while later. Built and run by window_startup.sh under Xvfb (no window manager), where a
// client's map request reaches the root window's substructure at once; nothing in the measured
// program has to cooperate.
//
//   window_mapped SETTLE_SECONDS PROGRAM [ARG]...
//
// Prints one line: mapped_ms rss_kib pss_kib tree_pss_kib tree_processes
//   mapped_ms     from just before fork() to the MapNotify of the program's first ordinary window
//   rss/pss_kib   the program's own process, SETTLE_SECONDS after mapping (smaps_rollup)
//   tree_pss_kib  the program and every process it started (a browser engine's helpers), summed
// The program is then ended with SIGTERM (SIGKILL after 5 s).
#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

double NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// "Rss:" and "Pss:" of one process, in KiB; zeros when it is gone.
std::pair<long, long> Memory(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  long rss = 0, pss = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Rss:", 0) == 0) rss = std::atol(line.c_str() + 4);
    if (line.rfind("Pss:", 0) == 0) pss = std::atol(line.c_str() + 4);
  }
  return {rss, pss};
}

// Every process below `root`, found through the parent ids in /proc/*/stat.
std::vector<pid_t> Descendants(pid_t root) {
  std::multimap<pid_t, pid_t> children;
  if (DIR* dir = opendir("/proc")) {
    while (dirent* entry = readdir(dir)) {
      const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
      if (pid <= 0) continue;
      std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const size_t close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(line.substr(close + 2));
      char state;
      pid_t parent;
      if (rest >> state >> parent) children.emplace(parent, pid);
    }
    closedir(dir);
  }
  std::vector<pid_t> found, todo{root};
  while (!todo.empty()) {
    const pid_t pid = todo.back();
    todo.pop_back();
    auto [from, to] = children.equal_range(pid);
    for (auto it = from; it != to; ++it) {
      found.push_back(it->second);
      todo.push_back(it->second);
    }
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_mapped SETTLE_SECONDS PROGRAM [ARG]...\n");
    return 2;
  }
  const double settle = std::atof(argv[1]);
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x)) {
    std::fprintf(stderr, "window_mapped: cannot open the display\n");
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_void_cookie_t cookie =
      xcb_change_window_attributes_checked(x, root, XCB_CW_EVENT_MASK, &mask);
  if (xcb_generic_error_t* error = xcb_request_check(x, cookie)) {
    std::fprintf(stderr, "window_mapped: cannot watch the root window (a window manager?)\n");
    std::free(error);
    return 1;
  }

  fcntl(xcb_get_file_descriptor(x), F_SETFD, FD_CLOEXEC);
  const double start = NowMs();
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[2], argv + 2);
    std::perror("window_mapped: exec");
    _exit(127);
  }

  double mapped = -1;
  pollfd watch{xcb_get_file_descriptor(x), POLLIN, 0};
  while (mapped < 0) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
      if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
          !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect && mapped < 0)
        mapped = NowMs() - start;
      std::free(event);
    }
    if (mapped >= 0) break;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      std::fprintf(stderr, "window_mapped: the program ended before it showed a window\n");
      return 1;
    }
    if (NowMs() - start > 120000) {
      std::fprintf(stderr, "window_mapped: no window after 120 s\n");
      kill(pid, SIGKILL);
      return 1;
    }
    poll(&watch, 1, 50);
  }

  usleep(static_cast<useconds_t>(settle * 1e6));
  const auto [rss, pss] = Memory(pid);
  long treePss = pss;
  const std::vector<pid_t> helpers = Descendants(pid);
  for (pid_t helper : helpers) treePss += Memory(helper).second;
  std::printf("%.1f %ld %ld %ld %zu\n", mapped, rss, pss, treePss, helpers.size() + 1);
  std::fflush(stdout);

  kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return 0;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return 0;
}
