// The host's interface, address and adapter-name tables as the system gives them, and the
// provider that reads them (one per system; faked in tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dravik {

// Operational states as the rules know them: 4 connected, 5 operational.
inline constexpr int kOperConnected = 4;
inline constexpr int kOperOperational = 5;

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

// Reads the host's tables; faked in tests.
class AdapterProvider {
 public:
  virtual ~AdapterProvider() = default;
  virtual HostAdapters read() = 0;
};

}  // namespace dravik
