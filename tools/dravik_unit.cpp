// dravik-unit: stands in for a DRAVIK-A or DRAVIK-B unit, so that a monitor can be
// commissioned and tested without hardware.
//
// It connects to the monitor, sends DO, DK or raw frames, prints every acknowledgement
// decoded, and can listen on the destination port for the monitor's output frames.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace {

namespace sock = dravik::sock;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kTerminator = 0xC8;

volatile std::sig_atomic_t interrupted = 0;
// Ends every wait at once when Ctrl+C or a termination request comes.
dravik::sock::WakeEvent* interruption = nullptr;

void onInterrupt(int) {
  interrupted = 1;
  interruption->signal();
}

const char kUsage[] =
    "usage: dravik-unit [options]\n"
    "\n"
    "Plays a DRAVIK-A or DRAVIK-B unit towards a DRAVIK monitor.\n"
    "\n"
    "Reporting (unit to monitor):\n"
    "  --host ADDR        monitor address (default 127.0.0.1)\n"
    "  --port N           monitor listening port (1-65535); needed to report\n"
    "  --do BITS          send a DO frame; BITS are 0/1 for DI1, DI2, ... (up to 8),\n"
    "                     e.g. --do 1010 sets DI1 and DI3 on\n"
    "  --dk VALUE/MASK    send a DK frame; VALUE and MASK are 8-bit hex, bit 0 = DI1,\n"
    "                     e.g. --dk 05/0F sets DI1..DI4 to on, off, on, off\n"
    "  --raw \"HEX ...\"    send these bytes as they are, e.g. --raw \"44 4F 31 30 C8\"\n"
    "  --count N          send the frame N times (default 1; 0 = until Ctrl+C)\n"
    "  --interval MS      pause between frames (default 1000)\n"
    "  --keep-open        report every frame on one connection (default: a new\n"
    "                     connection per frame, closed after its acknowledgement)\n"
    "  --hold MS          after the last frame keep running MS milliseconds, printing\n"
    "                     output frames (default 0; with --listen and no frame: forever)\n"
    "  --timeout MS       wait this long for each acknowledgement (default 2000)\n"
    "\n"
    "Outputs (monitor to unit, DRAVIK-A):\n"
    "  --listen N         listen on destination port N and print every output frame;\n"
    "                     frames arriving on the reporting connection are printed too\n"
    "  --bind ADDR        address to listen on (default 0.0.0.0)\n"
    "\n"
    "  --help             this text\n"
    "  --version          the version of this tool\n"
    "\n"
    "Printed lines:\n"
    "  ack: 64 6F 25 20 C8  inputs on: DI1 DI3\n"
    "  output: 44 4F 25 20 C8  DO1=ON DO2=OFF DO3=ON DO4=OFF\n"
    "\n"
    "Examples:\n"
    "  dravik-unit --port 10003 --do 1000\n"
    "  dravik-unit --port 10003 --dk 02/02 --keep-open --count 0 --interval 500\n"
    "  dravik-unit --port 10003 --do 0000 --keep-open --listen 10004 --hold 60000\n"
    "  dravik-unit --listen 10003\n";

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  Bytes frame;
  long count = 1;
  long intervalMs = 1000;
  bool keepOpen = false;
  std::optional<long> holdMs;
  long timeoutMs = 2000;
  int listenPort = 0;
  std::string bindAddress = "0.0.0.0";
};

bool parseNumber(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  out = value;
  return true;
}

bool parseHexByte(const std::string& text, unsigned& out) {
  if (text.empty() || text.size() > 2) return false;
  char* end = nullptr;
  out = static_cast<unsigned>(std::strtoul(text.c_str(), &end, 16));
  return *end == '\0';
}

std::optional<Bytes> doFrame(const std::string& bits) {
  if (bits.empty() || bits.size() > 8) return std::nullopt;
  unsigned value = 0;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] != '0' && bits[i] != '1') return std::nullopt;
    if (bits[i] == '1') value |= 1u << i;
  }
  return Bytes{0x44, 0x4F, static_cast<std::uint8_t>(0x30 | (value & 0x0F)),
               static_cast<std::uint8_t>(0x30 | (value >> 4)), kTerminator};
}

std::optional<Bytes> dkFrame(const std::string& text) {
  const std::size_t slash = text.find('/');
  unsigned value = 0;
  unsigned mask = 0;
  if (slash == std::string::npos || !parseHexByte(text.substr(0, slash), value) ||
      !parseHexByte(text.substr(slash + 1), mask)) {
    return std::nullopt;
  }
  auto nibble = [](unsigned n) { return static_cast<std::uint8_t>(0x30 | (n & 0x0F)); };
  return Bytes{0x44,       0x4B, nibble(value), nibble(mask), nibble(value >> 4), nibble(mask >> 4),
               kTerminator};
}

std::optional<Bytes> rawFrame(const std::string& text) {
  Bytes bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == ',') {
      ++i;
      continue;
    }
    const std::size_t end = text.find_first_of(" ,", i);
    unsigned byte = 0;
    if (!parseHexByte(text.substr(i, end - i), byte)) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(byte));
    i = end == std::string::npos ? text.size() : end;
  }
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

// Parses the command line; prints why and returns nothing when it is not usable.
std::optional<Options> parse(int argc, char** argv) {
  Options o;
  int frames = 0;
  auto fail = [](const std::string& why) {
    std::fprintf(stderr, "dravik-unit: %s (see --help)\n", why.c_str());
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--version") {
      std::puts("dravik-unit " DRAVIK_UNIT_VERSION);
      std::exit(0);
    }
    if (arg == "--keep-open") {
      o.keepOpen = true;
      continue;
    }
    if (i + 1 >= argc) return fail("missing value after " + arg);
    const char* value = argv[++i];
    long n = 0;
    if (arg == "--host") {
      o.host = value;
    } else if (arg == "--bind") {
      o.bindAddress = value;
    } else if (arg == "--port" || arg == "--listen") {
      if (!parseNumber(value, 1, 65535, n))
        return fail("bad port number '" + std::string(value) + "'");
      (arg == "--port" ? o.port : o.listenPort) = static_cast<int>(n);
    } else if (arg == "--count") {
      if (!parseNumber(value, 0, 1000000000, n))
        return fail("bad count '" + std::string(value) + "'");
      o.count = n;
    } else if (arg == "--interval" || arg == "--hold" || arg == "--timeout") {
      if (!parseNumber(value, 0, 86400000, n)) {
        return fail("bad time '" + std::string(value) + "' for " + arg);
      }
      if (arg == "--interval") o.intervalMs = n;
      if (arg == "--hold") o.holdMs = n;
      if (arg == "--timeout") o.timeoutMs = n;
    } else if (arg == "--do" || arg == "--dk" || arg == "--raw") {
      std::optional<Bytes> frame = arg == "--do"   ? doFrame(value)
                                   : arg == "--dk" ? dkFrame(value)
                                                   : rawFrame(value);
      if (!frame) return fail("bad frame '" + std::string(value) + "' for " + arg);
      o.frame = *frame;
      ++frames;
    } else {
      return fail("unknown option " + arg);
    }
  }
  if (frames > 1) return fail("give only one of --do, --dk and --raw");
  if (frames == 1 && o.port == 0) return fail("--port is needed to send a frame");
  if (frames == 0 && o.listenPort == 0) return fail("nothing to do: give a frame or --listen");
  return o;
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char part[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(part, sizeof part, text.empty() ? "%02X" : " %02X", b);
    text += part;
  }
  return text;
}

// Prints one frame the monitor sent: an acknowledgement or an output frame.
void printFrame(const Bytes& frame, const char* where) {
  if (frame.size() >= 4 && frame[0] == 'd') {
    std::string on;
    for (int i = 0; i < 8; ++i) {
      if (frame[2 + i / 4] & (1u << (i % 4))) on += " DI" + std::to_string(i + 1);
    }
    std::printf("ack: %s  inputs on:%s\n", hex(frame).c_str(), on.empty() ? " none" : on.c_str());
  } else if (frame.size() >= 3 && frame[0] == 'D' && frame[1] == 'O') {
    std::printf("output: %s ", hex(frame).c_str());
    for (int k = 0; k < 4; ++k) std::printf(" DO%d=%s", k + 1, frame[2] & (1u << k) ? "ON" : "OFF");
    std::printf("  (%s)\n", where);
  } else {
    std::printf("frame: %s  (%s)\n", hex(frame).c_str(), where);
  }
  std::fflush(stdout);
}

// One connection from which frames ending in 0xC8 are read.
struct Peer {
  dravik::sock::Socket socket = dravik::sock::kNone;
  Bytes pending;
  const char* where;
};

class Unit {
 public:
  explicit Unit(const Options& o) : o_(o) {}

  int run() {
    if (o_.listenPort != 0 && !openListener()) return 1;
    long sent = 0;
    while (!interrupted && !o_.frame.empty() && (o_.count == 0 || sent < o_.count)) {
      if (sent > 0) serve(Clock::now() + std::chrono::milliseconds(o_.intervalMs));
      if (interrupted) break;
      if (!report()) return 1;
      ++sent;
    }
    const bool forever = o_.frame.empty() && !o_.holdMs;
    if (forever) {
      while (!interrupted) serve(Clock::now() + std::chrono::hours(1));
    } else if (o_.holdMs) {
      serve(Clock::now() + std::chrono::milliseconds(*o_.holdMs));
    }
    closePeer(reporting_);
    return 0;
  }

 private:
  bool openListener() {
    const std::optional<std::uint32_t> local = sock::resolve(o_.bindAddress);
    if (!local) {
      std::fprintf(stderr, "dravik-unit: cannot resolve %s\n", o_.bindAddress.c_str());
      return false;
    }
    const sock::Listening listening = sock::listenOn(*local, o_.listenPort);
    if (listening.socket == sock::kNone) {
      std::fprintf(stderr, "dravik-unit: cannot listen on %s:%d: %s\n", o_.bindAddress.c_str(),
                   o_.listenPort, sock::errorText(listening.error).c_str());
      return false;
    }
    listener_ = listening.socket;
    std::printf("listening on %s:%d\n", o_.bindAddress.c_str(), o_.listenPort);
    std::fflush(stdout);
    return true;
  }

  // Sends the frame once and waits for its acknowledgement.
  bool report() {
    if (reporting_.socket == sock::kNone) {
      const std::optional<std::uint32_t> remote = sock::resolve(o_.host);
      if (!remote) {
        std::fprintf(stderr, "dravik-unit: cannot resolve %s\n", o_.host.c_str());
        return false;
      }
      const sock::Opened opened = sock::openStream(0);
      reporting_.socket = opened.socket;
      const sock::Connected connected =
          opened.socket == sock::kNone
              ? sock::Connected{opened.error, false}
              : sock::connectWithin(opened.socket, *remote, o_.port, -1, *interruption);
      if (opened.socket == sock::kNone || connected.error != 0 || connected.woken) {
        // Ctrl+C during the attempt ends it without a word.
        if (!connected.woken) {
          std::fprintf(stderr, "dravik-unit: cannot connect to %s:%d: %s\n", o_.host.c_str(),
                       o_.port, sock::errorText(connected.error).c_str());
        }
        closePeer(reporting_);
        return false;
      }
      // A monitor that stops reading holds up the next frame, as it holds up a unit.
      sock::setBlocking(reporting_.socket, true);
    }
    const sock::Transfer sent = sock::send(reporting_.socket, o_.frame.data(), o_.frame.size());
    if (sent.bytes != o_.frame.size()) {
      std::fprintf(stderr, "dravik-unit: send failed: %s\n", sock::errorText(sent.error).c_str());
      closePeer(reporting_);
      return false;
    }
    std::printf("sent: %s\n", hex(o_.frame).c_str());
    std::fflush(stdout);
    acks_ = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(o_.timeoutMs);
    while (acks_ == 0 && reporting_.socket != sock::kNone && !interrupted &&
           Clock::now() < deadline) {
      serve(deadline, true);
    }
    if (acks_ == 0) std::printf("no acknowledgement\n");
    std::fflush(stdout);
    if (!o_.keepOpen) closePeer(reporting_);
    return true;
  }

  // Handles every socket until `until`, or until an acknowledgement when `untilAck`.
  void serve(Clock::time_point until, bool untilAck = false) {
    while (!interrupted) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0 || (untilAck && acks_ > 0)) return;
      std::vector<sock::Socket> sockets;
      std::vector<Peer*> owners;
      if (listener_ != sock::kNone) sockets.push_back(listener_), owners.push_back(nullptr);
      if (reporting_.socket != sock::kNone)
        sockets.push_back(reporting_.socket), owners.push_back(&reporting_);
      for (Peer& p : outputs_) sockets.push_back(p.socket), owners.push_back(&p);
      std::vector<bool> ready;
      if (sock::waitReadable(sockets, *interruption, static_cast<int>(left.count()), ready) !=
          sock::Wait::Ready) {
        continue;
      }
      for (std::size_t i = 0; i < sockets.size(); ++i) {
        if (!ready[i]) continue;
        if (owners[i] == nullptr) {
          const sock::Accepted accepted = sock::acceptFrom(listener_);
          if (accepted.socket != sock::kNone)
            outputs_.push_back({accepted.socket, {}, "output connection"});
        } else {
          readFrom(*owners[i]);
        }
      }
      std::erase_if(outputs_, [](const Peer& p) { return p.socket == sock::kNone; });
    }
  }

  void readFrom(Peer& peer) {
    std::uint8_t buffer[256];
    const sock::Transfer got = sock::receive(peer.socket, buffer, sizeof buffer);
    if (got.wouldBlock) return;
    if (got.bytes == 0) {
      if (&peer == &reporting_) std::printf("monitor closed the reporting connection\n");
      closePeer(peer);
      return;
    }
    for (std::size_t i = 0; i < got.bytes; ++i) {
      peer.pending.push_back(buffer[i]);
      if (buffer[i] != kTerminator) continue;
      if (peer.pending[0] == 'd') ++acks_;
      printFrame(peer.pending, peer.where);
      peer.pending.clear();
    }
  }

  static void closePeer(Peer& peer) {
    sock::close(peer.socket);
    peer.socket = sock::kNone;
    peer.pending.clear();
  }

  const Options& o_;
  sock::Socket listener_ = sock::kNone;
  Peer reporting_{sock::kNone, {}, "reporting connection"};
  std::vector<Peer> outputs_;
  int acks_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<Options> options = parse(argc, argv);
  if (!options) return 2;
  if (const int error = dravik::sock::startUp(); error != 0) {
    std::fprintf(stderr, "dravik-unit: sockets unavailable: %s\n",
                 dravik::sock::errorText(error).c_str());
    return 1;
  }
  dravik::sock::WakeEvent wake;
  if (!wake.valid()) {
    std::fprintf(stderr, "dravik-unit: cannot wait for Ctrl+C: %s\n",
                 dravik::sock::errorText(wake.error()).c_str());
    return 1;
  }
  interruption = &wake;
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  return Unit(*options).run();
}
