// Measures the monitor core against a floor: a single-threaded epoll server in this same
// process that answers five bytes at every terminator and does nothing else. Every figure is
// taken side by side in one run, as medians over repeated rounds (of the monitor and the floor
// alternately where they are compared by rate or time), and printed as one table.
//
// Everything runs on 127.0.0.1, except the start-to-listening figure of the real program,
// which listens on the first non-loopback adapter address: that one is connected to only
// when it is an address of this very machine.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "monitor/controls.h"
#include "monitor/monitor.h"
#include "monitor_rig.h"

namespace {

using namespace dravik;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr int kRounds = 5;
constexpr int kRoundTrips = 2000;
constexpr int kPipelined = 20000;
constexpr int kStopUnits = 64;
constexpr double kIdleSeconds = 5.0;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Processor time of the calling thread alone.
double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The identifiers of this process's threads.
std::vector<pid_t> threadIds() {
  std::vector<pid_t> ids;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (const dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') ids.push_back(static_cast<pid_t>(std::atol(e->d_name)));
    }
    ::closedir(d);
  }
  return ids;
}

int threadCount() {
  return static_cast<int>(threadIds().size());
}

// Runs `work` with every thread of this process (and every thread started meanwhile) on the
// processor of the calling thread, then lets each go where it was allowed before. A round trip
// is two wake-ups; on a virtual machine one that reaches an idle processor costs tens of
// microseconds more than one on the waker's own, and which server thread the scheduler happens
// to place beside the unit's would decide the comparison.
template <typename Work>
void onOneProcessor(Work work) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  std::vector<std::pair<pid_t, cpu_set_t>> before;
  for (pid_t id : threadIds()) {
    cpu_set_t allowed;
    if (sched_getaffinity(id, sizeof allowed, &allowed) != 0) continue;
    before.emplace_back(id, allowed);
    sched_setaffinity(id, sizeof one, &one);
  }
  work();
  for (const auto& [id, allowed] : before) sched_setaffinity(id, sizeof allowed, &allowed);
}

sockaddr_in endpoint(std::uint32_t address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  return a;
}

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = endpoint(kLoopback, 0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

int connectTo(std::uint32_t address, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in a = endpoint(address, port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads exactly `size` bytes, giving up after 10 s of silence.
bool recvAll(int fd, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return false;
    const ssize_t n = ::recv(fd, data, size, 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Frame i sets DI1 to DI4 from the low four bits of i; its answer carries them back.
Bytes frames(int count) {
  Bytes out;
  out.reserve(static_cast<std::size_t>(count) * 5);
  for (int i = 0; i < count; ++i) {
    out.insert(out.end(), {0x44, 0x4F, static_cast<std::uint8_t>(0x30 | (i & 0x0F)), 0x30, 0xC8});
  }
  return out;
}

// Every answer is a DO acknowledgement. With `exact`, each also carries the states its own
// frame set; units that report at once share the input states, so their answers may carry
// another unit's bits, and only their form is checked.
bool answersMatch(const Bytes& answers, int count, bool exact) {
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* a = &answers[static_cast<std::size_t>(i) * 5];
    const bool form =
        a[0] == 0x64 && a[1] == 0x6F && (a[2] & 0xF0) == 0x20 && a[3] == 0x20 && a[4] == 0xC8;
    if (!form || (exact && a[2] != (0x20 | (i & 0x0F)))) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// The floor.

class FloorServer {
 public:
  explicit FloorServer(const std::vector<int>& ports) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    add(wake_);
    for (int port : ports) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      const int on = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in a = endpoint(kLoopback, port);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 128) != 0) {
        std::fprintf(stderr, "dravik-bench: floor cannot listen on %d\n", port);
        std::exit(1);
      }
      listeners_.push_back(fd);
      add(fd);
    }
    thread_ = std::thread([this] { run(); });
  }
  ~FloorServer() { stop(); }

  void stop() {
    if (!thread_.joinable()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
    thread_.join();
    for (int fd : listeners_) ::close(fd);
    for (int fd : connections_) ::close(fd);
    ::close(wake_);
    ::close(epoll_);
  }

 private:
  void add(int fd) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e);
  }

  void run() {
    std::array<epoll_event, 64> events;
    std::array<std::uint8_t, 65536> in;
    static constexpr std::uint8_t kAnswer[5] = {0x64, 0x6F, 0x20, 0x20, 0xC8};
    for (;;) {
      const int n = ::epoll_wait(epoll_, events.data(), events.size(), -1);
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == wake_) return;
        if (std::find(listeners_.begin(), listeners_.end(), fd) != listeners_.end()) {
          const int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (c >= 0) {
            connections_.push_back(c);
            add(c);
          }
          continue;
        }
        const ssize_t got = ::recv(fd, in.data(), in.size(), 0);
        if (got == 0 || (got < 0 && errno != EAGAIN)) {
          ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
          ::close(fd);
          std::erase(connections_, fd);
          continue;
        }
        // One answer per terminator, sent as the frame is cut: the least any server owes a
        // unit that waits for each answer before its next frame.
        for (ssize_t k = 0; k < got; ++k) {
          if (in[k] == 0xC8) ::send(fd, kAnswer, sizeof kAnswer, MSG_NOSIGNAL);
        }
      }
    }
  }

  int epoll_ = -1;
  int wake_ = -1;
  std::vector<int> listeners_;
  std::vector<int> connections_;
  std::thread thread_;
};

// ---------------------------------------------------------------------------------------
// The monitor, the same core as the programs, over the tests' in-memory window.

class BenchRig {
 public:
  explicit BenchRig(const std::string& folder) : rig_(kVariantA, folder) {
    if (!rig_.monitor.initDialog()) {
      std::fprintf(stderr, "dravik-bench: the monitor did not initialise\n");
      std::exit(1);
    }
  }
  // Starts listening on `slots` fresh ports (the others left empty).
  bool start(int slots) { return rig_.start(slots); }
  void stop() {
    if (rig_.monitor.state().running != 0) rig_.monitor.stop();
  }
  void logging(bool on) {
    rig_.view.setChecked(ctl::kLogging, on);
    rig_.monitor.onLoggingToggled();
  }
  int port(int slot) const { return rig_.listening[static_cast<std::size_t>(slot)]; }
  const std::vector<int>& ports() const { return rig_.listening; }
  Monitor& monitor() { return rig_.monitor; }
  std::size_t messageBoxes() const { return rig_.view.messageBoxes().size(); }

 private:
  test::MonitorRig rig_;
};

// The lines of a log that only grows, counted as it grows: each count reads only the bytes
// added since the one before, so a log of many megabytes can be watched closely.
class LineCounter {
 public:
  explicit LineCounter(std::string path) : path_(std::move(path)) {}

  std::size_t now() {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset_));
    std::array<char, 1 << 16> buffer;
    while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0) {
      const auto got = static_cast<std::size_t>(in.gcount());
      lines_ += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
      offset_ += got;
    }
    return lines_;
  }

  // The count once it has stopped growing: a receiver answers its frames before it logs them,
  // so the last lines of a phase may land after its last answer was read.
  std::size_t settled() {
    std::size_t count = now();
    for (int quiet = 0; quiet < 5;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const std::size_t later = now();
      quiet = later == count ? quiet + 1 : 0;
      count = later;
    }
    return count;
  }

  // Waits until the log holds `lines` lines, for at most 10 s.
  void reach(std::size_t lines) {
    const auto start = Clock::now();
    while (now() < lines && secondsSince(start) < 10) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

 private:
  std::string path_;
  std::size_t offset_ = 0;
  std::size_t lines_ = 0;
};

// ---------------------------------------------------------------------------------------
// The measurements; each works on any server listening on the given loopback ports.

// Processor time of the whole process over kIdleSeconds with a connected silent unit per port.
std::optional<double> idleCpuPercent(const std::vector<int>& ports) {
  std::vector<int> units;
  const Bytes frame = frames(1);
  for (int port : ports) {
    const int fd = connectTo(kLoopback, port);
    std::uint8_t answer[5];
    if (fd < 0 || !sendAll(fd, frame.data(), frame.size()) || !recvAll(fd, answer, 5)) {
      return std::nullopt;
    }
    units.push_back(fd);
  }
  const double before = cpuSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
  const double used = cpuSeconds() - before;
  for (int fd : units) ::close(fd);
  return 100.0 * used / kIdleSeconds;
}

struct Latency {
  double p50 = 0;
  double p99 = 0;
};

// One frame at a time, each waited for, kRoundTrips times; microseconds.
std::optional<Latency> roundTrip(int port) {
  const Bytes frame = frames(1);
  const int fd = connectTo(kLoopback, port);
  if (fd < 0) return std::nullopt;
  std::vector<double> samples;
  samples.reserve(kRoundTrips);
  std::uint8_t answer[5];
  for (int i = 0; i < kRoundTrips; ++i) {
    const auto start = Clock::now();
    if (!sendAll(fd, frame.data(), frame.size()) || !recvAll(fd, answer, 5)) {
      ::close(fd);
      return std::nullopt;
    }
    samples.push_back(secondsSince(start) * 1e6);
  }
  ::close(fd);
  std::sort(samples.begin(), samples.end());
  return Latency{samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

struct Pipelined {
  double rate = 0;            // frames per second
  bool everyAnswered = true;  // every frame got its answer (and, checked, the right one)
  // Processor time per frame of the server alone: the whole process's, less what the
  // simulated units' own threads spent. It does not depend on how many processors there are.
  double serverCpuPerFrameUs = 0;
};

// One round: `units` connections, one per port in `ports` (repeating), each sending kPipelined
// frames as fast as the kernel takes them while its answers are read back. `settled`, when
// given, returns once the server has finished the round's work that follows its last answer
// (the monitor's last log write), so that its processor time is counted in this round.
std::optional<Pipelined> pipelined(const std::vector<int>& ports, int units, bool checkAnswers,
                                   const std::function<void()>& settled = {}) {
  const Bytes stream = frames(kPipelined);
  std::mutex unitCpuLock;
  double unitCpu = 0;
  const auto spent = [&](double since) {
    std::lock_guard lock(unitCpuLock);
    unitCpu += threadCpuSeconds() - since;
  };
  const double cpuBefore = cpuSeconds();
  const double ownBefore = threadCpuSeconds();
  std::vector<int> fds;
  for (int u = 0; u < units; ++u) {
    const int fd = connectTo(kLoopback, ports[static_cast<std::size_t>(u) % ports.size()]);
    if (fd < 0) return std::nullopt;
    fds.push_back(fd);
  }
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int fd : fds) {
    threads.emplace_back([&, fd] {
      const double readerStart = threadCpuSeconds();
      std::thread writer([&] {
        const double writerStart = threadCpuSeconds();
        sendAll(fd, stream.data(), stream.size());
        spent(writerStart);
      });
      Bytes answers(stream.size());
      const bool whole = recvAll(fd, answers.data(), answers.size());
      writer.join();
      if (whole && (!checkAnswers || answersMatch(answers, kPipelined, units == 1))) ++answered;
      spent(readerStart);
    });
  }
  for (std::thread& t : threads) t.join();
  const double elapsed = secondsSince(start);
  if (settled) settled();
  for (int fd : fds) ::close(fd);
  Pipelined result;
  result.everyAnswered = answered == units;
  result.rate = units * kPipelined / elapsed;
  const double serverCpu = cpuSeconds() - cpuBefore - unitCpu - (threadCpuSeconds() - ownBefore);
  result.serverCpuPerFrameUs = serverCpu * 1e6 / (units * kPipelined);
  return result;
}

// A pipelined figure of the monitor against the floor, rounds taken alternately (floor, then
// monitor, kRounds times each), so a machine whose load changes during the run weighs on both
// alike. Every figure is a median of the rounds; each ratio is the median of the rounds' own
// ratios.
struct Comparison {
  double monitorRate = 0, floorRate = 0, rateRatio = 0;
  double monitorCpuUs = 0, floorCpuUs = 0, cpuRatio = 0;
  bool everyAnswered = true;
};

std::optional<Comparison> compare(const std::function<std::optional<Pipelined>()>& monitorRound,
                                  const std::function<std::optional<Pipelined>()>& floorRound) {
  std::vector<double> monitorRates, floorRates, rateRatios, monitorCpus, floorCpus, cpuRatios;
  Comparison c;
  for (int round = 0; round < kRounds; ++round) {
    const std::optional<Pipelined> floor = floorRound();
    const std::optional<Pipelined> monitor = monitorRound();
    if (!floor || !monitor) return std::nullopt;
    c.everyAnswered = c.everyAnswered && monitor->everyAnswered && floor->everyAnswered;
    monitorRates.push_back(monitor->rate);
    floorRates.push_back(floor->rate);
    rateRatios.push_back(monitor->rate / floor->rate);
    monitorCpus.push_back(monitor->serverCpuPerFrameUs);
    floorCpus.push_back(floor->serverCpuPerFrameUs);
    cpuRatios.push_back(monitor->serverCpuPerFrameUs / floor->serverCpuPerFrameUs);
  }
  c.monitorRate = median(monitorRates);
  c.floorRate = median(floorRates);
  c.rateRatio = median(rateRatios);
  c.monitorCpuUs = median(monitorCpus);
  c.floorCpuUs = median(floorCpus);
  c.cpuRatio = median(cpuRatios);
  return c;
}

struct StopTimes {
  double commandMs = 0;
  double threadsGoneMs = 0;
};

// ---------------------------------------------------------------------------------------
// The real program.

std::vector<std::uint32_t> ownAddresses() {
  std::vector<std::uint32_t> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    const std::uint32_t a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    if (a != kLoopback) out.push_back(a);
  }
  freeifaddrs(list);
  return out;
}

// Seconds from fork to the first accepted connection, or a reason why not measured.
std::string startToListening(const std::string& program, std::vector<double>& seconds) {
  if (::access(program.c_str(), X_OK) != 0) return "program not built (" + program + ")";
  const std::vector<std::uint32_t> own = ownAddresses();
  if (own.empty()) return "no address of this machine but loopback: not measurable here";
  for (int round = 0; round < kRounds; ++round) {
    char pattern[] = "/tmp/dravik-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) return "no temporary folder";
    const std::string folder = made;
    const std::string copy = folder + "/DRAVIK_A";
    std::filesystem::copy_file(program, copy);
    const int port = freePort();
    std::ofstream(folder + "/DRAVIK-A.ini") << folder << "/start.dva\r\n";
    std::ofstream(folder + "/start.dva")
        << "#$PORT=" << port << "\r\n#$LOGGING=OFF\r\n#$SERVER=START\r\n";

    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::optional<double> took;
    int status = 0;
    bool exited = false;
    while (!took && !exited && secondsSince(start) < 10) {
      exited = ::waitpid(child, &status, WNOHANG) == child;
      for (std::uint32_t address : own) {
        const int fd = connectTo(address, port);
        if (fd >= 0) {
          took = secondsSince(start);
          ::close(fd);
          break;
        }
      }
      if (!took) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!exited) {
      ::kill(child, SIGTERM);
      ::waitpid(child, &status, 0);
    }
    std::filesystem::remove_all(folder);
    if (exited) return "the program ended before listening (status " + std::to_string(status) + ")";
    if (!took) return "the program did not listen within 10 s";
    seconds.push_back(*took);
  }
  return {};
}

// ---------------------------------------------------------------------------------------
// The table.

struct Row {
  std::string figure;
  std::string monitor;
  std::string floor;
  std::string ratio;
  std::string goal;
  std::string verdict;
};

std::string fmt(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string verdict(bool ok) {
  return ok ? "met" : "MISSED";
}

void printTable(const std::vector<Row>& rows) {
  std::array<std::size_t, 6> width{6, 7, 5, 5, 4, 6};
  auto cells = [](const Row& r) {
    return std::array<const std::string*, 6>{&r.figure, &r.monitor, &r.floor,
                                             &r.ratio,  &r.goal,    &r.verdict};
  };
  for (const Row& r : rows) {
    auto c = cells(r);
    for (std::size_t i = 0; i < 6; ++i) width[i] = std::max(width[i], c[i]->size());
  }
  auto line = [&](const std::array<const std::string*, 6>& c) {
    std::printf("|");
    for (std::size_t i = 0; i < 6; ++i) {
      std::printf(" %-*s |", static_cast<int>(width[i]), c[i]->c_str());
    }
    std::printf("\n");
  };
  const Row head{"Figure", "monitor", "floor", "ratio", "goal", "result"};
  line(cells(head));
  std::printf("|");
  for (std::size_t w : width) std::printf("%s|", std::string(w + 2, '-').c_str());
  std::printf("\n");
  for (const Row& r : rows) line(cells(r));
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "dravik-bench: %s\n", what);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const std::string program = argc > 1 ? argv[1] : "build/DRAVIK_A";
  char pattern[] = "/tmp/dravik-bench-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) fail("no temporary folder");
  const std::string folder = made;
  std::vector<Row> rows;

  BenchRig rig(folder);
  const std::string logPath = rig.monitor().logFilePath();
  std::vector<int> floorPorts;
  for (int s = 0; s < kPortSlotCount; ++s) floorPorts.push_back(freePort());

  // Idle: one server at a time, so the process holds only the one being measured.
  if (!rig.start(4)) fail("the monitor did not start");
  const std::optional<double> idleMonitor = idleCpuPercent(rig.ports());
  rig.stop();
  std::optional<double> idleFloor;
  {
    FloorServer floor(floorPorts);
    idleFloor = idleCpuPercent(floorPorts);
  }
  if (!idleMonitor || !idleFloor) fail("idle units were not served");
  rows.push_back({"idle CPU, 4 ports, 4 silent units, 5 s (% of one core)",
                  fmt("%.3f %%", *idleMonitor), fmt("%.3f %%", *idleFloor),
                  *idleFloor > 0 ? fmt("%.1fx", *idleMonitor / *idleFloor) : "-", "<= 1 %",
                  verdict(*idleMonitor <= 1.0)});

  FloorServer floor(floorPorts);
  if (!rig.start(4)) fail("the monitor did not start");

  rig.logging(true);
  // Rounds taken alternately, like the pipelined figures below, with the unit and both servers
  // on one processor.
  std::vector<double> p50Monitor, p99Monitor, p50Floor, p99Floor;
  onOneProcessor([&] {
    for (int round = 0; round < kRounds; ++round) {
      const std::optional<Latency> monitor = roundTrip(rig.port(0));
      const std::optional<Latency> floorLatency = roundTrip(floorPorts[0]);
      if (!monitor || !floorLatency) fail("a round trip went unanswered");
      p50Monitor.push_back(monitor->p50);
      p99Monitor.push_back(monitor->p99);
      p50Floor.push_back(floorLatency->p50);
      p99Floor.push_back(floorLatency->p99);
    }
  });
  const Latency rtMonitor{median(p50Monitor), median(p99Monitor)};
  const Latency rtFloor{median(p50Floor), median(p99Floor)};
  const double p50Ratio = rtMonitor.p50 / rtFloor.p50;
  const double p99Ratio = rtMonitor.p99 / rtFloor.p99;
  rows.push_back({"round trip p50, one unit, logging on (us)", fmt("%.1f", rtMonitor.p50),
                  fmt("%.1f", rtFloor.p50), fmt("%.2fx", p50Ratio), "<= 1.5x floor",
                  verdict(p50Ratio <= 1.5)});
  rows.push_back({"round trip p99, one unit, logging on (us)", fmt("%.1f", rtMonitor.p99),
                  fmt("%.1f", rtFloor.p99), fmt("%.2fx", p99Ratio), "<= 2x floor",
                  verdict(p99Ratio <= 2.0)});

  // `units` units pipelining into the monitor (one per port) with the log as `logging` says,
  // against as many into the floor. The log must hold exactly one line per frame answered
  // while logging is on, none while it is off; `logged` tells which.
  LineCounter log(logPath);
  const auto pipelinedFigure = [&](int units, bool logging, bool& logged) {
    rig.logging(logging);
    const std::size_t before = log.settled();
    std::size_t expected = before;
    const std::vector<int> monitorPorts(rig.ports().begin(), rig.ports().begin() + units);
    const std::vector<int> floorUnitPorts(floorPorts.begin(), floorPorts.begin() + units);
    const std::optional<Comparison> c = compare(
        [&]() {
          if (logging) expected += static_cast<std::size_t>(units) * kPipelined;
          // The last lines of a round are written after its last answer: their processor
          // time belongs to the round.
          return pipelined(monitorPorts, units, true, [&] { log.reach(expected); });
        },
        [&]() { return pipelined(floorUnitPorts, units, false); });
    if (!c) fail("a pipelined round went unanswered");
    const std::size_t lines = log.settled();
    logged = lines == expected;
    if (!logged) {
      std::fprintf(stderr, "dravik-bench: %zu lines logged for %zu frames\n", lines - before,
                   expected - before);
    }
    return *c;
  };
  const auto rateRow = [&](const char* label, const Comparison& c, double goal, bool logged) {
    rows.push_back({label, fmt("%.0f", c.monitorRate), fmt("%.0f", c.floorRate),
                    fmt("%.2fx", c.rateRatio), ">= " + fmt("%.1fx", goal) + " floor",
                    verdict(c.rateRatio >= goal && c.everyAnswered && logged)});
    if (!c.everyAnswered) rows.back().verdict += " (unanswered)";
    if (!logged) rows.back().verdict += " (log lines wrong)";
  };
  // Processor time per frame beside frames per second: the units share this process and its
  // processors with the server, so a rate also measures how many processors the machine has.
  const auto cpuRow = [&](const char* label, const Comparison& c, double goal) {
    rows.push_back({label, fmt("%.2f", c.monitorCpuUs), fmt("%.2f", c.floorCpuUs),
                    fmt("%.2fx", c.cpuRatio), "<= " + fmt("%.1fx", goal) + " floor",
                    verdict(c.cpuRatio <= goal)});
  };
  bool offLogged = false, onLogged = false, fourLogged = false;
  const Comparison off = pipelinedFigure(1, false, offLogged);
  const Comparison on = pipelinedFigure(1, true, onLogged);
  const Comparison four = pipelinedFigure(kPortSlotCount, true, fourLogged);
  rateRow("20,000 pipelined frames, logging off (frames/s)", off, 1.0, offLogged);
  rateRow("20,000 pipelined frames, logging on (frames/s)", on, 0.5, onLogged);
  rateRow("4 units x 20,000 pipelined frames, one log (frames/s)", four, 0.5, fourLogged);
  cpuRow("processor time per frame, logging off (us)", off, 1.2);
  cpuRow("processor time per frame, logging on (us)", on, 2.5);
  rig.stop();
  floor.stop();

  // Stop with 64 connected units: the command's own time, then until the threads are gone.
  std::vector<double> stopMonitor, goneMonitor, stopFloor;
  for (int round = 0; round < kRounds; ++round) {
    const int before = threadCount();
    if (!rig.start(4)) fail("the monitor did not restart");
    std::vector<int> units;
    const Bytes frame = frames(1);
    for (int u = 0; u < kStopUnits; ++u) {
      const int fd = connectTo(kLoopback, rig.port(u % kPortSlotCount));
      std::uint8_t answer[5];
      if (fd < 0 || !sendAll(fd, frame.data(), frame.size()) || !recvAll(fd, answer, 5)) {
        fail("a unit was not served before the stop");
      }
      units.push_back(fd);
    }
    const auto start = Clock::now();
    rig.stop();
    stopMonitor.push_back(secondsSince(start) * 1e3);
    while (threadCount() > before && secondsSince(start) < 5) std::this_thread::yield();
    goneMonitor.push_back(secondsSince(start) * 1e3);
    for (int fd : units) ::close(fd);

    std::vector<int> floorRound;
    for (int s = 0; s < kPortSlotCount; ++s) floorRound.push_back(freePort());
    FloorServer roundFloor(floorRound);
    for (int u = 0; u < kStopUnits; ++u) {
      const int fd = connectTo(kLoopback, floorRound[u % kPortSlotCount]);
      std::uint8_t answer[5];
      if (fd < 0 || !sendAll(fd, frame.data(), frame.size()) || !recvAll(fd, answer, 5)) {
        fail("the floor did not serve a unit");
      }
      units[static_cast<std::size_t>(u)] = fd;
    }
    const auto floorStart = Clock::now();
    roundFloor.stop();
    stopFloor.push_back(secondsSince(floorStart) * 1e3);
    for (int fd : units) ::close(fd);
  }
  const double stopMs = median(stopMonitor);
  const double goneMs = median(goneMonitor);
  const double floorStopMs = median(stopFloor);
  rows.push_back({"stop, 4 ports, 64 units: command returns (ms)", fmt("%.2f", stopMs),
                  fmt("%.2f", floorStopMs), fmt("%.1fx", stopMs / floorStopMs), "<= 10 ms",
                  verdict(stopMs <= 10)});
  rows.push_back({"stop, 4 ports, 64 units: every worker gone (ms)", fmt("%.2f", goneMs),
                  fmt("%.2f", floorStopMs), fmt("%.1fx", goneMs / floorStopMs), "<= 50 ms",
                  verdict(goneMs <= 50)});

  std::vector<double> startSeconds;
  const std::string whyNot = startToListening(program, startSeconds);
  if (whyNot.empty()) {
    const double s = median(startSeconds);
    rows.push_back({"DRAVIK_A start to listening, startup START (s)", fmt("%.3f", s), "-", "-",
                    "< 0.5 s", verdict(s < 0.5)});
  } else {
    rows.push_back({"DRAVIK_A start to listening, startup START (s)", "not measured", "-", "-",
                    "< 0.5 s", whyNot});
  }

  if (rig.messageBoxes() != 0) {
    rows.push_back({"message boxes shown during the run", std::to_string(rig.messageBoxes()), "-",
                    "-", "0", "MISSED"});
  }
  printTable(rows);
  std::filesystem::remove_all(folder);
  return 0;
}
