#include "platform/adapter_provider_linux.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "platform/cp932.h"

namespace dravik {

namespace {

// Any state the selection rules do not take: the interface is not offered.
constexpr int kOperNotUsable = 2;
constexpr std::uint64_t kBitsPerMegabit = 1000000;
// ARPHRD_LOOPBACK as /sys/class/net/<if>/type shows it.
constexpr const char* kLoopbackType = "772";

// First line of a sysfs attribute; empty when it cannot be read (virtual interfaces refuse
// some attributes with EINVAL).
std::string attribute(const std::string& root, const std::string& name, const char* file) {
  std::ifstream in(root + "/" + name + "/" + file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  return line;
}

InterfaceRow interfaceRow(const std::string& root, const std::string& name, unsigned flags) {
  InterfaceRow row;
  row.index = if_nametoindex(name.c_str());
  const std::string oper = attribute(root, name, "operstate");
  // Drivers without carrier reporting say "unknown"; the interface flags then decide.
  const bool running = (flags & IFF_UP) && (flags & IFF_RUNNING);
  row.operStatus =
      oper == "up" || (oper == "unknown" && running) ? kOperOperational : kOperNotUsable;
  // Some kernels give loopback a hardware address length; its link type says what it is.
  const bool loopback = (flags & IFF_LOOPBACK) || attribute(root, name, "type") == kLoopbackType;
  row.hardwareAddressLength = loopback
                                  ? 0
                                  : static_cast<std::uint32_t>(std::strtoul(
                                        attribute(root, name, "addr_len").c_str(), nullptr, 10));
  // Unknown speed (unreadable or -1) is left 0, which the rules let pass.
  const long long megabits = std::strtoll(attribute(root, name, "speed").c_str(), nullptr, 10);
  row.speed = megabits > 0 ? static_cast<std::uint64_t>(megabits) * kBitsPerMegabit : 0;
  row.description = name;
  return row;
}

}  // namespace

HostAdapters LinuxAdapterProvider::read() {
  HostAdapters host;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return host;

  std::set<std::string> seen;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_name == nullptr) continue;
    // An address label such as "eth0:1" belongs to the interface "eth0".
    std::string name = a->ifa_name;
    name = name.substr(0, name.find(':'));
    if (seen.insert(name).second) {
      InterfaceRow row = interfaceRow(sysfsRoot_, name, a->ifa_flags);
      if (row.index == 0) continue;
      const std::string alias = attribute(sysfsRoot_, name, "ifalias");
      host.names.push_back({row.index, cp932::fromUtf8(alias.empty() ? name : alias)});
      host.interfaces.push_back(std::move(row));
    }
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    AddressRow address;
    address.address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
    if (a->ifa_netmask != nullptr) {
      address.mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
    }
    address.interfaceIndex = if_nametoindex(name.c_str());
    if (address.interfaceIndex != 0) host.addresses.push_back(address);
  }
  freeifaddrs(list);
  return host;
}

}  // namespace dravik
