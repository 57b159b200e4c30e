// Placeholder until issue #3 (network engine) lands.
#include "net/adapter_table.h"

namespace dravik {

std::vector<AdapterEntry> selectAdapters(const HostAdapters&) {
  return {};
}
std::string adapterLabel(const AdapterEntry&) {
  return {};
}

}  // namespace dravik
