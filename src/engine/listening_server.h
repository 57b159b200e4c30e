// The listening server: one listening socket and server thread per serving port slot, one
// receiver thread per accepted connection.
#pragma once

#include "engine/monitor_state.h"
#include "engine/result.h"
#include "engine/variant_profile.h"

namespace dravik {

class View;
class Trace;
class AccessLogSink;

class ListeningServer {
 public:
  ListeningServer(const VariantProfile& profile, MonitorState& state, View& view,
                  const Trace& trace, AccessLogSink& log);
  // Stops every slot and joins every thread.
  ~ListeningServer();
  ListeningServer(const ListeningServer&) = delete;
  ListeningServer& operator=(const ListeningServer&) = delete;

  // Opens the listening sockets of every Starting slot and starts their server threads.
  // On failure shows the error, closes every socket of the attempt, returns the slots to
  // Idle and returns kFail.
  Result start();

  // Waits (without spinning) until `slot` is Idle.
  void waitUntilIdle(int slot);

  // Sets every slot to Stopping and joins every server and receiver thread. Safe to call on
  // every exit path and more than once.
  void shutdown();

 private:
  const VariantProfile& profile_;
  MonitorState& state_;
  View& view_;
  const Trace& trace_;
  AccessLogSink& log_;
};

}  // namespace dravik
