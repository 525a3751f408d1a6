// The read-and-write floor of bench/engine_bench.py: reads SOURCE whole, as quorvel-cli does, and
// writes BYTES bytes to TARGET in blocks of 1 MiB. What no converter of that source into a target
// of that size can beat.
//   floor_copy SOURCE TARGET BYTES
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: floor_copy SOURCE TARGET BYTES\n");
    return 2;
  }
  int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (in < 0) return 1;
  std::string source;
  char chunk[1 << 16];
  for (ssize_t n; (n = ::read(in, chunk, sizeof chunk)) > 0;)
    source.append(chunk, static_cast<size_t>(n));
  ::close(in);
  int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return 1;
  std::vector<char> block(1 << 20, 'a');
  for (unsigned long long left = std::strtoull(argv[3], nullptr, 10); left > 0;) {
    const size_t n = left < block.size() ? static_cast<size_t>(left) : block.size();
    if (::write(out, block.data(), n) != static_cast<ssize_t>(n)) return 1;
    left -= n;
  }
  return ::close(out) == 0 && !source.empty() ? 0 : 1;
}
