// The table of local IPv4 addresses offered to the operator: pure selection rules over the
// host's interface, address and adapter-name tables, and the provider that reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dravik {

inline constexpr std::size_t kMaxAdapterEntries = 256;
inline constexpr std::size_t kAdapterTextBytes = 255;

// Operational states as the rules know them: 4 connected, 5 operational.
inline constexpr int kOperConnected = 4;
inline constexpr int kOperOperational = 5;
// A speed of exactly this many bit/s marks a pseudo-interface, never offered.
inline constexpr std::uint64_t kPseudoInterfaceSpeed = 1073741824;

struct InterfaceRow {
  std::uint32_t index = 0;
  int operStatus = 0;
  std::uint32_t hardwareAddressLength = 0;
  std::uint64_t speed = 0;
  std::string description;
};

// Addresses and masks in network byte order.
struct AddressRow {
  std::uint32_t address = 0;
  std::uint32_t interfaceIndex = 0;
  std::uint32_t mask = 0;
};

struct AdapterName {
  std::uint32_t interfaceIndex = 0;
  std::string friendlyName;  // CP932
};

struct HostAdapters {
  std::vector<InterfaceRow> interfaces;
  std::vector<AddressRow> addresses;  // in the host's table order
  std::vector<AdapterName> names;
};

struct AdapterEntry {
  std::uint32_t interfaceIndex = 0;
  std::string description;
  std::string friendlyName;  // empty when no adapter name has this interface index
  std::uint32_t address = 0;
  std::uint32_t mask = 0;
};

// Reads the host's tables; faked in tests.
class AdapterProvider {
 public:
  virtual ~AdapterProvider() = default;
  virtual HostAdapters read() = 0;
};

// The entries offered to the operator, in combo-box order.
std::vector<AdapterEntry> selectAdapters(const HostAdapters& host);

// The combo-box line of an entry: "address (friendly name)".
std::string adapterLabel(const AdapterEntry& entry);

}  // namespace dravik
