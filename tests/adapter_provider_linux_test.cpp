// The Linux adapter provider over a made-up sysfs and the host's own loopback.
#include "platform/adapter_provider_linux.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include "temp_dir.h"

namespace dravik {
namespace {

const auto ip = [](const char* text) { return inet_addr(text); };

TEST(LinuxAdapterProvider, StateAliasAndSpeedComeFromSysfs) {
  // The files operstate, ifalias and speed (none when empty), and what is read from them.
  const std::tuple<const char*, const char*, const char*, int, const char*, std::uint64_t> cases[] =
      {
          {"up\n", "", "", kOperOperational, "lo", 0},
          {"down\n", "Bench link\n", "100\n", 2, "Bench link", 100000000},
          {"unknown\n", "", "-1\n", kOperOperational, "lo", 0},   // loopback is up and running
          {"dormant\n", "\xe3\x81\x82\n", "", 2, "\x82\xa0", 0},  // the alias in CP932
      };
  const std::uint32_t lo = if_nametoindex("lo");
  for (const auto& [operstate, alias, speed, operStatus, friendlyName, bits] : cases) {
    SCOPED_TRACE(operstate);
    test::TempDir root;
    std::filesystem::create_directory(root.path() + "/lo");
    const char* files[][2] = {
        {"operstate", operstate}, {"ifalias", alias}, {"speed", speed}, {"addr_len", "6\n"}};
    for (const auto& [file, text] : files)
      if (*text) std::ofstream(root.path() + "/lo/" + file) << text;
    const HostAdapters host = LinuxAdapterProvider(root.path()).read();
    auto row = std::ranges::find(host.interfaces, lo, &InterfaceRow::index);
    auto name = std::ranges::find(host.names, lo, &AdapterName::interfaceIndex);
    auto address = std::ranges::find(host.addresses, ip("127.0.0.1"), &AddressRow::address);
    ASSERT_TRUE(row != host.interfaces.end() && name != host.names.end() &&
                address != host.addresses.end());
    EXPECT_EQ(std::tuple(row->operStatus, row->speed, row->description, row->hardwareAddressLength),
              std::tuple(operStatus, bits, "lo", 0u))
        << "state, speed, name; loopback has no hardware address";
    EXPECT_EQ(name->friendlyName, friendlyName);
    EXPECT_EQ(std::pair(address->interfaceIndex, address->mask), std::pair(lo, ip("255.0.0.0")));
  }
}

}  // namespace
}  // namespace dravik
