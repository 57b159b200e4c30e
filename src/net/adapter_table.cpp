#include "net/adapter_table.h"

#include <algorithm>

#include "platform/socket.h"

namespace dravik {

namespace {

struct UsableInterface {
  std::uint32_t index;
  const std::string* description;
};

bool usable(const InterfaceRow& row) {
  const bool operational = row.operStatus == kOperConnected || row.operStatus == kOperOperational;
  return operational && row.hardwareAddressLength != 0 && row.speed != kPseudoInterfaceSpeed;
}

std::string cut(const std::string& text) {
  return text.substr(0, std::min(text.size(), kAdapterTextBytes));
}

}  // namespace

std::vector<AdapterEntry> selectAdapters(const HostAdapters& host) {
  std::vector<UsableInterface> interfaces;
  for (const InterfaceRow& row : host.interfaces) {
    if (interfaces.size() == kMaxAdapterEntries) break;
    if (usable(row)) interfaces.push_back({row.index, &row.description});
  }

  std::vector<AdapterEntry> entries;
  for (const AddressRow& row : host.addresses) {
    if (entries.size() == kMaxAdapterEntries) break;
    if (row.address == sock::kLoopback) continue;
    auto owner = std::find_if(interfaces.begin(), interfaces.end(), [&](const UsableInterface& u) {
      return u.index == row.interfaceIndex;
    });
    if (owner == interfaces.end() || owner->description->empty()) continue;
    entries.push_back({row.interfaceIndex, cut(*owner->description), {}, row.address, row.mask});
  }

  // In list order, so that a later adapter with the same index overwrites an earlier name.
  for (const AdapterName& name : host.names) {
    for (AdapterEntry& entry : entries) {
      if (entry.interfaceIndex == name.interfaceIndex) entry.friendlyName = cut(name.friendlyName);
    }
  }
  return entries;
}

std::string adapterLabel(const AdapterEntry& entry) {
  return sock::addressText(entry.address) + " (" + entry.friendlyName + ")";
}

}  // namespace dravik
