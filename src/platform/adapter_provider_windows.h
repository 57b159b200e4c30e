// Reads the host's adapters on Windows: GetAdaptersAddresses gives every adapter with its
// state, hardware address, speed, names and IPv4 addresses in one table.
#pragma once

#include "platform/host_adapters.h"

namespace dravik {

class WindowsAdapterProvider : public AdapterProvider {
 public:
  // An adapter list that cannot be read gives empty tables.
  HostAdapters read() override;
};

}  // namespace dravik
