// The table of local IPv4 addresses offered to the operator: pure selection rules over the
// host's interface, address and adapter-name tables, which a provider reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host_adapters.h"

namespace dravik {

inline constexpr std::size_t kMaxAdapterEntries = 256;
inline constexpr std::size_t kAdapterTextBytes = 255;

// A speed of exactly this many bit/s marks a pseudo-interface, never offered.
inline constexpr std::uint64_t kPseudoInterfaceSpeed = 1073741824;

struct AdapterEntry {
  std::uint32_t interfaceIndex = 0;
  std::string description;
  std::string friendlyName;  // empty when no adapter name has this interface index
  std::uint32_t address = 0;
  std::uint32_t mask = 0;
};

// The entries offered to the operator, in combo-box order.
std::vector<AdapterEntry> selectAdapters(const HostAdapters& host);

// The combo-box line of an entry: "address (friendly name)".
std::string adapterLabel(const AdapterEntry& entry);

}  // namespace dravik
