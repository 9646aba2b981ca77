// Bare loopback round trip, the floor of a download in save mode: PAIRS
// pairs of processes on 127.0.0.1 pass one byte back and forth COUNT times,
// all pairs at once. In each pair a "board" process answers every byte at
// once and a "host" process waits (poll, recv) for the answer and sends the
// next byte (send), as a loader in save mode does; with --relay a third
// process in between forwards each byte both ways, as a network serial
// server does.
//
// For every exchange the board process measures the host turnaround: from
// just before it sends its byte to the moment the kernel took in the host's
// next byte (SO_TIMESTAMPNS). With --line-us T the board sends each byte T
// microseconds after the kernel took in the one before (sleeping until
// then), as a paced board does whose echo needs the line time of two bytes;
// the host then sleeps between bytes as a loader does. That turnaround is exactly the time the simulator's
// trace shows between an echo and the next host byte when the tool takes no
// time of its own. The host process measures the plain round trip.
//
// Prints one line per pair: "pair I turnaround_us MEDIAN round_trip_us
// MEDIAN" and a last line "all turnaround_us MEDIAN round_trip_us MEDIAN"
// over every exchange of every pair. Every process ends by itself within
// the time limit (SIGALRM), so a lost byte cannot hang the run.
//
//   rtt PAIRS COUNT [--relay] [--line-us T] [--limit SECONDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Nanos = int64_t;

Nanos Clock(clockid_t id) {
  timespec ts{};
  ::clock_gettime(id, &ts);
  return Nanos{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "rtt: %s: %s\n", what, std::strerror(errno));
  std::_Exit(1);
}

void NoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A listening socket on 127.0.0.1 with a port the kernel picked.
int Listen(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) Fail("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail("bind");
  if (::listen(fd, 4) != 0) Fail("listen");
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) Fail("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail("connect");
  NoDelay(fd);
  return fd;
}

int Accept(int listener) {
  const int fd = ::accept(listener, nullptr, nullptr);
  if (fd < 0) Fail("accept");
  NoDelay(fd);
  ::close(listener);
  return fd;
}

// Sleeps until fd is readable (as the loaders do: poll, then recv).
void WaitReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int n = ::poll(&p, 1, 1000);
    if (n > 0) return;
    if (n == 0) {
      errno = ETIMEDOUT;
      Fail("poll");
    }
    if (errno != EINTR) Fail("poll");
  }
}

uint8_t RecvByte(int fd) {
  uint8_t b = 0;
  for (;;) {
    const ssize_t r = ::recv(fd, &b, 1, 0);
    if (r == 1) return b;
    if (r == 0) {
      errno = ECONNRESET;
      Fail("recv");
    }
    if (errno != EINTR) Fail("recv");
  }
}

void SendByte(int fd, uint8_t b) {
  if (::send(fd, &b, 1, MSG_NOSIGNAL) != 1) Fail("send");
}

Nanos Median(std::vector<Nanos> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// The board: sends a byte, and for each answer notes the time from its send
// to the kernel's receive stamp of the answer. Writes the samples to `out`.
void Board(int fd, int count, Nanos line, int out) {
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  Nanos due = 0;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
  std::vector<Nanos> turn;
  turn.reserve(count);
  for (int i = 0; i < count; ++i) {
    if (due != 0 && line > 0) {
      const timespec at{static_cast<time_t>(due / 1'000'000'000), static_cast<long>(due % 1'000'000'000)};
      while (::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) == EINTR) {
      }
    }
    const Nanos sent = Clock(CLOCK_REALTIME);
    SendByte(fd, static_cast<uint8_t>(i));
    WaitReadable(fd);
    uint8_t b = 0;
    iovec iov{&b, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t r = ::recvmsg(fd, &msg, 0);
    if (r != 1) Fail("recvmsg");
    Nanos stamp = Clock(CLOCK_REALTIME);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec ts{};
        std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
        stamp = Nanos{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
      }
    }
    turn.push_back(stamp - sent);
    due = stamp + line;
  }
  const ssize_t bytes = static_cast<ssize_t>(turn.size() * sizeof(Nanos));
  if (::write(out, turn.data(), bytes) != bytes) Fail("write");
}

// The host: waits for each byte and answers it at once, timing from its
// answer to the next byte (a whole round trip through the board).
void Host(int fd, int count, int out) {
  std::vector<Nanos> round;
  round.reserve(count);
  Nanos answered = 0;
  for (int i = 0; i < count; ++i) {
    WaitReadable(fd);
    const uint8_t b = RecvByte(fd);
    if (answered != 0) round.push_back(Clock(CLOCK_MONOTONIC) - answered);
    answered = Clock(CLOCK_MONOTONIC);
    SendByte(fd, b);
  }
  const ssize_t bytes = static_cast<ssize_t>(round.size() * sizeof(Nanos));
  if (::write(out, round.data(), bytes) != bytes) Fail("write");
}

// The relay: forwards every byte both ways until either side closes.
void Relay(int a, int b) {
  pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  uint8_t buf[256];
  for (;;) {
    if (::poll(p, 2, 2000) <= 0) return;
    for (int i = 0; i < 2; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t r = ::recv(p[i].fd, buf, sizeof buf, 0);
      if (r <= 0) return;
      if (::send(p[1 - i].fd, buf, static_cast<size_t>(r), MSG_NOSIGNAL) != r) return;
    }
  }
}

std::vector<Nanos> ReadAll(int fd) {
  std::vector<Nanos> v;
  Nanos x = 0;
  for (;;) {
    const ssize_t r = ::read(fd, &x, sizeof x);
    if (r == sizeof x) {
      v.push_back(x);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    return v;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rtt PAIRS COUNT [--relay] [--line-us T] [--limit SECONDS]\n");
    return 2;
  }
  const int pairs = std::atoi(argv[1]);
  const int count = std::atoi(argv[2]);
  bool relay = false;
  Nanos line = 0;
  unsigned limit = 60;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--relay") == 0) relay = true;
    else if (std::strcmp(argv[i], "--line-us") == 0 && i + 1 < argc)
      line = static_cast<Nanos>(std::atof(argv[++i]) * 1000);
    else if (std::strcmp(argv[i], "--limit") == 0 && i + 1 < argc) limit = std::atoi(argv[++i]);
  }
  if (pairs < 1 || pairs > 64 || count < 2) return 2;
  ::alarm(limit);  // a child does not inherit it: each sets its own

  struct Pipes {
    int turn[2];
    int round[2];
  };
  std::vector<Pipes> results(pairs);
  std::vector<pid_t> children;
  int start[2];  // closed by the parent once every pair is connected: all begin together
  if (::pipe(start) != 0) Fail("pipe");

  for (int p = 0; p < pairs; ++p) {
    if (::pipe(results[p].turn) != 0 || ::pipe(results[p].round) != 0) Fail("pipe");
    uint16_t board_port = 0;
    const int board_listener = Listen(board_port);
    uint16_t host_port = board_port;
    int relay_listener = -1;
    if (relay) relay_listener = Listen(host_port);

    const pid_t board = ::fork();
    if (board == 0) {
      ::alarm(limit);
      ::close(start[1]);
      const int fd = Accept(board_listener);
      char go;
      while (::read(start[0], &go, 1) < 0 && errno == EINTR) {
      }
      Board(fd, count, line, results[p].turn[1]);
      std::_Exit(0);
    }
    children.push_back(board);
    if (relay) {
      const pid_t r = ::fork();
      if (r == 0) {
        ::alarm(limit);
        ::close(start[1]);
        ::close(board_listener);
        const int up = Accept(relay_listener);
        const int down = Connect(board_port);
        Relay(up, down);
        std::_Exit(0);
      }
      children.push_back(r);
      ::close(relay_listener);
    }
    ::close(board_listener);
    const pid_t host = ::fork();
    if (host == 0) {
      ::alarm(limit);
      ::close(start[1]);
      const int fd = Connect(host_port);
      Host(fd, count, results[p].round[1]);
      std::_Exit(0);
    }
    children.push_back(host);
    ::close(results[p].turn[1]);
    ::close(results[p].round[1]);
  }
  ::close(start[0]);
  ::close(start[1]);  // go

  std::vector<Nanos> all_turn, all_round;
  for (int p = 0; p < pairs; ++p) {
    const std::vector<Nanos> turn = ReadAll(results[p].turn[0]);
    const std::vector<Nanos> round = ReadAll(results[p].round[0]);
    std::printf("pair %d turnaround_us %.1f round_trip_us %.1f\n", p, Median(turn) / 1e3,
                Median(round) / 1e3);
    all_turn.insert(all_turn.end(), turn.begin(), turn.end());
    all_round.insert(all_round.end(), round.begin(), round.end());
  }
  int failed = 0;
  for (pid_t c : children) {
    int status = 0;
    while (::waitpid(c, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
  }
  if (failed != 0 || all_turn.empty()) {
    std::fprintf(stderr, "rtt: %d processes failed\n", failed);
    return 1;
  }
  std::printf("all turnaround_us %.1f round_trip_us %.1f samples %zu\n", Median(all_turn) / 1e3,
              Median(all_round) / 1e3, all_turn.size());
  return 0;
}
