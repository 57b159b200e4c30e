// Adapter selection over made-up tables and the combo-box line.
#include "net/adapter_table.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/socket.h"

namespace dravik {
namespace {

const auto ip = [](const char* text) { return sock::resolve(text).value_or(0); };

TEST(AdapterRules, WhichInterfaceAndAddressIsOffered) {
  constexpr std::uint64_t kPseudo = kPseudoInterfaceSpeed;
  // What is checked, the interface, the address and the index it belongs to, offered or not.
  const std::tuple<const char*, InterfaceRow, const char*, std::uint32_t, bool> cases[] = {
      {"operational", {2, kOperOperational, 6, 1000000000, "eth0"}, "192.0.2.1", 2, true},
      {"connected", {2, kOperConnected, 6, 0, "eth0"}, "192.0.2.1", 2, true},
      {"state 3", {2, 3, 6, 0, "eth0"}, "192.0.2.1", 2, false},
      {"state 6", {2, 6, 6, 0, "eth0"}, "192.0.2.1", 2, false},
      {"no hardware address", {2, kOperOperational, 0, 0, "eth0"}, "192.0.2.1", 2, false},
      {"pseudo speed", {2, kOperOperational, 6, kPseudo, "eth0"}, "192.0.2.1", 2, false},
      {"below pseudo", {2, kOperOperational, 6, kPseudo - 1, "eth0"}, "192.0.2.1", 2, true},
      {"above pseudo", {2, kOperOperational, 6, kPseudo + 1, "eth0"}, "192.0.2.1", 2, true},
      {"no description", {2, kOperOperational, 6, 0, ""}, "192.0.2.1", 2, false},
      {"127.0.0.1", {2, kOperOperational, 6, 0, "eth0"}, "127.0.0.1", 2, false},
      {"127.0.0.2", {2, kOperOperational, 6, 0, "eth0"}, "127.0.0.2", 2, true},
      {"another interface's", {2, kOperOperational, 6, 0, "eth0"}, "192.0.2.1", 3, false},
  };
  for (const auto& [name, interface, address, index, offered] : cases) {
    HostAdapters host;
    host.interfaces = {interface};
    host.addresses = {{ip(address), index, ip("255.255.255.0")}};
    EXPECT_EQ(selectAdapters(host).size(), offered ? 1u : 0u) << name;
  }
}

TEST(AdapterRules, AddressOrderNamesAndLimits) {
  HostAdapters host;
  host.interfaces = {{2, kOperOperational, 6, 0, "eth0"}, {9, kOperOperational, 6, 0, "wlan0"}};
  host.addresses = {{ip("192.0.2.1"), 9, ip("255.255.0.0")},
                    {ip("192.168.1.20"), 2, ip("255.255.255.0")}};
  host.names = {{2, "old"}, {3, "unplugged"}, {2, "LAN"}};
  const std::vector<AdapterEntry> e = selectAdapters(host);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(adapterLabel(e[0]) + "|" + adapterLabel(e[1]), "192.0.2.1 ()|192.168.1.20 (LAN)")
      << "address-table order; no name for index 9; the later adapter name wins";
  EXPECT_EQ(std::tuple(e[0].interfaceIndex, e[0].description, e[0].mask),
            std::tuple(9u, "wlan0", ip("255.255.0.0")));

  // Only the first 256 usable interfaces count; index 2 comes after `before` of them.
  for (int before : {255, 256}) {
    HostAdapters many;
    for (int i = 0; i < before; ++i) many.interfaces.push_back({100u + i, 5, 6, 0, "other"});
    many.interfaces.push_back({2, kOperOperational, 6, 0, std::string(300, 'd')});
    for (int i = 0; i < 300; ++i)
      many.addresses.push_back({sock::ipv4(192, 0, 2 + i / 256, i % 256), 2, 0});
    many.names = {{2, std::string(300, 'n')}};
    const std::vector<AdapterEntry> cut = selectAdapters(many);
    EXPECT_EQ(cut.empty(), before == 256) << "the 256th usable interface counts, the 257th not";
    if (cut.empty()) continue;
    EXPECT_EQ(std::tuple(cut.size(), cut.back().address, cut[0].description, cut[0].friendlyName),
              std::tuple(kMaxAdapterEntries, sock::ipv4(192, 0, 2, 255),
                         std::string(kAdapterTextBytes, 'd'), std::string(kAdapterTextBytes, 'n')))
        << "256 addresses at most; texts cut to their fields";
  }
}

}  // namespace
}  // namespace dravik
