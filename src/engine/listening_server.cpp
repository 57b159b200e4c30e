// Placeholder until issue #3 (network engine) lands.
#include "engine/listening_server.h"

namespace dravik {

ListeningServer::ListeningServer(const VariantProfile& profile, MonitorState& state, View& view,
                                 const Trace& trace, AccessLogSink& log)
    : profile_(profile), state_(state), view_(view), trace_(trace), log_(log) {}
ListeningServer::~ListeningServer() {
  shutdown();
}
Result ListeningServer::start() {
  return kFail;
}
void ListeningServer::waitUntilIdle(int) {}
void ListeningServer::shutdown() {}

}  // namespace dravik
