// Adapter selection over made-up tables, the Linux provider over a made-up sysfs, the combo box.
#include <arpa/inet.h>
#include <net/if.h>

#include <gtest/gtest.h>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/controls.h"
#include "monitor/monitor.h"
#include "net/adapter_provider_linux.h"
#include "temp_dir.h"

namespace dravik {
namespace {

const auto ip = [](const char* text) { return inet_addr(text); };

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
    for (int i = 0; i < 300; ++i) many.addresses.push_back({htonl(0xC0000200u + i), 2, 0});
    many.names = {{2, std::string(300, 'n')}};
    const std::vector<AdapterEntry> cut = selectAdapters(many);
    EXPECT_EQ(cut.empty(), before == 256) << "the 256th usable interface counts, the 257th not";
    if (cut.empty()) continue;
    EXPECT_EQ(std::tuple(cut.size(), cut.back().address, cut[0].description, cut[0].friendlyName),
              std::tuple(kMaxAdapterEntries, htonl(0xC0000200u + 255),
                         std::string(kAdapterTextBytes, 'd'), std::string(kAdapterTextBytes, 'n')))
        << "256 addresses at most; texts cut to their fields";
  }
}

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

TEST(AdapterCombo, LinesAndSelection) {
  test::TempDir dir;
  test::FakeView view;
  test::FakeAdapters adapters;
  adapters.tables = test::oneUsableAdapter();
  adapters.tables.addresses.push_back({ip("192.0.2.11"), 2, ip("255.255.255.0")});
  Monitor monitor(kVariantB, view, adapters, nullptr, dir.path(), dir.path(), {1, 0, 1, 0});
  ASSERT_TRUE(monitor.initDialog());
  EXPECT_EQ(view.control(ctl::kAdapterCombo).items,
            (std::vector<std::string>{"192.0.2.10 (LAN)", "192.0.2.11 (LAN)"}));
  EXPECT_EQ(view.control(ctl::kAdapterCombo).selection, 0);
  EXPECT_EQ(monitor.state().selectedLocalAddress, ip("192.0.2.10"));
  for (int line : {1, 2}) {
    view.setComboSelection(ctl::kAdapterCombo, line);
    monitor.selectAdapter();
    EXPECT_EQ(monitor.state().selectedLocalAddress, ip("192.0.2.11")) << "line 2 is past the table";
  }
  monitor.overrideLocalAddress(ip("127.0.0.1"));
  monitor.selectAdapter();
  EXPECT_EQ(monitor.state().selectedLocalAddress, ip("127.0.0.1")) << "the override wins";
}

}  // namespace
}  // namespace dravik
