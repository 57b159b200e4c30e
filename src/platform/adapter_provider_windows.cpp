#include "platform/adapter_provider_windows.h"

// Winsock 2 before the headers that build on it.
#include <winsock2.h>

#include <iphlpapi.h>
#include <windows.h>

#include <vector>

#include "platform/utf16.h"

namespace dravik {

namespace {

// Any state the selection rules do not take: the adapter is not offered.
constexpr int kOperNotUsable = 2;

// The adapter table, grown until it fits (it may grow between two calls); nothing on failure.
std::vector<unsigned char> adapterTable() {
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_PREFIX;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> table;
  for (int attempt = 0; attempt < 4; ++attempt) {
    table.resize(size);
    const ULONG result = ::GetAdaptersAddresses(
        AF_INET, kFlags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(table.data()), &size);
    if (result == ERROR_SUCCESS) return table;
    if (result != ERROR_BUFFER_OVERFLOW) break;
  }
  return {};
}

// The mask of an IPv4 prefix length, in network byte order.
std::uint32_t maskOf(unsigned prefixLength) {
  if (prefixLength == 0) return 0;
  const std::uint32_t host = prefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefixLength);
  return htonl(host);
}

}  // namespace

HostAdapters WindowsAdapterProvider::read() {
  HostAdapters host;
  std::vector<unsigned char> table = adapterTable();
  if (table.empty()) return host;
  for (const IP_ADAPTER_ADDRESSES* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data());
       a != nullptr; a = a->Next) {
    // The loopback and tunnel pseudo-adapters reach no unit.
    if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK || a->IfType == IF_TYPE_TUNNEL || a->IfIndex == 0) {
      continue;
    }
    InterfaceRow row;
    row.index = a->IfIndex;
    row.operStatus = a->OperStatus == IfOperStatusUp ? kOperOperational : kOperNotUsable;
    row.hardwareAddressLength = a->PhysicalAddressLength;
    // The link speed in bit/s; the "unknown" of ULONG64's maximum is left 0, which the rules
    // let pass.
    row.speed = a->TransmitLinkSpeed == ~ULONG64{0} ? 0 : a->TransmitLinkSpeed;
    row.description = cp932::fromUtf16(a->Description ? a->Description : L"");
    host.names.push_back({row.index, cp932::fromUtf16(a->FriendlyName ? a->FriendlyName : L"")});
    host.interfaces.push_back(std::move(row));
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* address = u->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      host.addresses.push_back({reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr,
                                a->IfIndex, maskOf(u->OnLinkPrefixLength)});
    }
  }
  return host;
}

}  // namespace dravik
