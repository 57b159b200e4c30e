// Adapter selection rules over made-up tables, the Linux provider over a made-up sysfs, and
// the combo box; no adapter at all is the window session's test.
#include <arpa/inet.h>
#include <net/if.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/controls.h"
#include "monitor/monitor.h"
#include "net/adapter_provider_linux.h"
#include "temp_dir.h"

namespace dravik {
namespace {

std::uint32_t ip(const char* text) {
  return inet_addr(text);
}

TEST(AdapterRules, WhichInterfaceAndAddressIsOffered) {
  struct Case {
    const char* name;
    int operStatus;
    std::uint32_t hardwareLength;
    std::uint64_t speed;
    const char* description;
    const char* address;
    std::uint32_t addressIndex;
    bool offered;
  };
  const Case cases[] = {
      {"operational", kOperOperational, 6, 1000000000, "eth0", "192.0.2.1", 2, true},
      {"connected", kOperConnected, 6, 0, "eth0", "192.0.2.1", 2, true},
      {"state 2", 2, 6, 0, "eth0", "192.0.2.1", 2, false},
      {"state 3", 3, 6, 0, "eth0", "192.0.2.1", 2, false},
      {"state 6", 6, 6, 0, "eth0", "192.0.2.1", 2, false},
      {"no hardware address", kOperOperational, 0, 0, "eth0", "192.0.2.1", 2, false},
      {"pseudo speed", kOperOperational, 6, kPseudoInterfaceSpeed, "eth0", "192.0.2.1", 2, false},
      {"speed below pseudo", kOperOperational, 6, kPseudoInterfaceSpeed - 1, "e", "192.0.2.1", 2,
       true},
      {"speed above pseudo", kOperOperational, 6, kPseudoInterfaceSpeed + 1, "e", "192.0.2.1", 2,
       true},
      {"no description", kOperOperational, 6, 0, "", "192.0.2.1", 2, false},
      {"127.0.0.1", kOperOperational, 6, 0, "eth0", "127.0.0.1", 2, false},
      {"127.0.0.2", kOperOperational, 6, 0, "eth0", "127.0.0.2", 2, true},
      {"address of another interface", kOperOperational, 6, 0, "eth0", "192.0.2.1", 3, false},
  };
  for (const Case& c : cases) {
    HostAdapters host;
    host.interfaces = {{2, c.operStatus, c.hardwareLength, c.speed, c.description}};
    host.addresses = {{ip(c.address), c.addressIndex, ip("255.255.255.0")}};
    EXPECT_EQ(selectAdapters(host).size(), c.offered ? 1u : 0u) << c.name;
  }
}

TEST(AdapterRules, AddressOrderAndNames) {
  HostAdapters host;
  host.interfaces = {{2, kOperOperational, 6, 0, "eth0"}, {9, kOperOperational, 6, 0, "wlan0"}};
  host.addresses = {{ip("192.0.2.1"), 9, ip("255.255.0.0")},
                    {ip("192.168.1.20"), 2, ip("255.255.255.0")}};
  host.names = {{2, "old"}, {3, "unplugged"}, {2, "LAN"}};
  const std::vector<AdapterEntry> e = selectAdapters(host);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(adapterLabel(e[0]), "192.0.2.1 ()") << "address-table order; no name for index 9";
  EXPECT_EQ(e[0].interfaceIndex, 9u);
  EXPECT_EQ(e[0].description, "wlan0");
  EXPECT_EQ(e[0].mask, ip("255.255.0.0"));
  EXPECT_EQ(adapterLabel(e[1]), "192.168.1.20 (LAN)") << "the later adapter name wins";
}

TEST(AdapterRules, Limits) {
  // Only the first 256 usable interfaces are looked at; index 2 comes after `before` of them.
  for (int before : {255, 256}) {
    HostAdapters host;
    for (int i = 0; i < before; ++i) host.interfaces.push_back({100u + i, 5, 6, 0, "other"});
    host.interfaces.push_back({2, kOperOperational, 6, 0, std::string(300, 'd')});
    for (int i = 0; i < 300; ++i) host.addresses.push_back({htonl(0xC0000200u + i), 2, 0});
    host.names = {{2, std::string(300, 'n')}};
    const std::vector<AdapterEntry> e = selectAdapters(host);
    if (before == 256) {
      EXPECT_TRUE(e.empty()) << "the 257th usable interface is offered";
      continue;
    }
    ASSERT_EQ(e.size(), kMaxAdapterEntries) << "the 256th interface counts; addresses stop at 256";
    EXPECT_EQ(e.back().address, htonl(0xC0000200u + 255));
    EXPECT_EQ(e[0].description, std::string(kAdapterTextBytes, 'd'));
    EXPECT_EQ(e[0].friendlyName, std::string(kAdapterTextBytes, 'n'));
  }
}

// Loopback as the provider reads it from a sysfs folder of the test's.
TEST(LinuxAdapterProvider, StateAliasAndSpeedComeFromSysfs) {
  struct Case {
    const char* operstate;
    const char* alias;
    const char* speed;
    int operStatus;
    const char* friendlyName;
    std::uint64_t bits;
  };
  const Case cases[] = {
      {"up\n", "", "", kOperOperational, "lo", 0},
      {"down\n", "Bench link\n", "100\n", 2, "Bench link", 100000000},
      {"unknown\n", "", "-1\n", kOperOperational, "lo", 0},   // loopback is up and running
      {"dormant\n", "\xe3\x81\x82\n", "", 2, "\x82\xa0", 0},  // the alias in CP932
  };
  const std::uint32_t lo = if_nametoindex("lo");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operstate);
    test::TempDir root;
    std::filesystem::create_directory(root.path() + "/lo");
    auto write = [&](const char* file, const char* text) {
      if (*text) std::ofstream(root.path() + "/lo/" + file) << text;
    };
    write("operstate", c.operstate);
    write("ifalias", c.alias);
    write("speed", c.speed);
    write("addr_len", "6\n");
    const HostAdapters host = LinuxAdapterProvider(root.path()).read();
    auto row = std::find_if(host.interfaces.begin(), host.interfaces.end(),
                            [&](const InterfaceRow& r) { return r.index == lo; });
    ASSERT_NE(row, host.interfaces.end());
    EXPECT_EQ(row->operStatus, c.operStatus);
    EXPECT_EQ(row->speed, c.bits);
    EXPECT_EQ(row->description, "lo");
    EXPECT_EQ(row->hardwareAddressLength, 0u) << "loopback has no hardware address";
    auto name = std::find_if(host.names.begin(), host.names.end(),
                             [&](const AdapterName& n) { return n.interfaceIndex == lo; });
    ASSERT_NE(name, host.names.end());
    EXPECT_EQ(name->friendlyName, c.friendlyName);
    auto address = std::find_if(host.addresses.begin(), host.addresses.end(),
                                [&](const AddressRow& a) { return a.address == ip("127.0.0.1"); });
    ASSERT_NE(address, host.addresses.end());
    EXPECT_EQ(address->interfaceIndex, lo);
    EXPECT_EQ(address->mask, ip("255.0.0.0"));
  }
  for (const InterfaceRow& row : LinuxAdapterProvider().read().interfaces) {
    if (row.index == lo) {
      EXPECT_EQ(row.operStatus, kOperOperational) << "the host's own sysfs";
    }
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
  const test::FakeView::Control combo = view.control(ctl::kAdapterCombo);
  EXPECT_EQ(combo.items, (std::vector<std::string>{"192.0.2.10 (LAN)", "192.0.2.11 (LAN)"}));
  EXPECT_EQ(combo.selection, 0);
  EXPECT_EQ(monitor.state().selectedLocalAddress, ip("192.0.2.10"));
  view.setComboSelection(ctl::kAdapterCombo, 1);
  monitor.selectAdapter();
  EXPECT_EQ(monitor.state().selectedLocalAddress, ip("192.0.2.11"));
  monitor.overrideLocalAddress(ip("127.0.0.1"));
  monitor.selectAdapter();
  EXPECT_EQ(monitor.state().selectedLocalAddress, ip("127.0.0.1")) << "the override wins";
}

}  // namespace
}  // namespace dravik
