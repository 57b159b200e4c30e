// Measures what an idle listening server costs: four slots, each with a connected unit that
// reported once and then stays silent, watched for five seconds of processor time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "engine/listening_server.h"
#include "logging/access_log_sink.h"
#include "logging/trace.h"
#include "monitor/view.h"

namespace {

using namespace dravik;

class NullView : public View {
 public:
  void setText(int, const std::string&) override {}
  std::string text(int) const override { return {}; }
  void enable(int, bool) override {}
  void repaint(int) override {}
  bool isChecked(int) const override { return false; }
  void setChecked(int, bool) override {}
  void setVisible(int, bool) override {}
  void limitText(int, int) override {}
  void appendTrace(const std::string&) override {}
  void clearTrace() override {}
  void addComboItem(int, const std::string&) override {}
  void setComboSelection(int, int) override {}
  int comboSelection(int) const override { return 0; }
  void messageBox(const std::string&) override {}
  std::optional<std::string> chooseFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> askTitle(const std::string&) override { return std::nullopt; }
  void setCaption(const std::string&) override {}
  void endModal(int) override {}
};

class NullSink : public AccessLogSink {
 public:
  void appendAccessLog(const std::string&) override {}
};

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  return a;
}

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace

int main() {
  NullView view;
  NullSink sink;
  MonitorState state;
  Trace trace(view, true);
  ListeningServer server(kVariantB, state, view, trace, sink);
  state.selectedLocalAddress = htonl(INADDR_LOOPBACK);
  std::vector<int> ports;
  for (PortSlot& slot : state.slots) {
    ports.push_back(freePort());
    slot.port = ports.back();
    slot.state = SlotState::Starting;
  }
  if (server.start() != kOk) {
    std::fprintf(stderr, "engine-idle-bench: the server did not start\n");
    return 1;
  }
  std::vector<int> units;
  const std::uint8_t frame[5] = {0x44, 0x4F, 0x31, 0x30, 0xC8};
  for (int port : ports) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(port);
    std::uint8_t answer[5];
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::send(fd, frame, sizeof frame, MSG_NOSIGNAL) != 5 ||
        ::recv(fd, answer, sizeof answer, MSG_WAITALL) != 5) {
      std::fprintf(stderr, "engine-idle-bench: unit on port %d not served\n", port);
      return 1;
    }
    units.push_back(fd);
  }
  constexpr double kSeconds = 5.0;
  const double before = cpuSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
  const double used = cpuSeconds() - before;
  std::printf("idle engine, 4 slots, 4 connected silent units: %.3f s CPU in %.0f s (%.3f %%)\n",
              used, kSeconds, 100.0 * used / kSeconds);
  server.shutdown();
  for (int fd : units) ::close(fd);
  return 0;
}
