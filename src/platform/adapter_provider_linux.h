// Reads the host's adapter tables on Linux: IPv4 addresses from getifaddrs, interface state,
// hardware address length, speed and alias from /sys/class/net.
#pragma once

#include <string>

#include "platform/host_adapters.h"

namespace dravik {

class LinuxAdapterProvider : public AdapterProvider {
 public:
  // `sysfsRoot` is the folder holding one folder per interface.
  explicit LinuxAdapterProvider(std::string sysfsRoot = "/sys/class/net")
      : sysfsRoot_(std::move(sysfsRoot)) {}

  // Unreadable pieces only make the tables shorter or the names empty.
  HostAdapters read() override;

 private:
  std::string sysfsRoot_;
};

}  // namespace dravik
