// Adapter selection rules over made-up tables, the host provider, and the combo box.
#include <arpa/inet.h>
#include <net/if.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor/monitor.h"
#include "net/adapter_provider_linux.h"
#include "temp_dir.h"

namespace dravik {
namespace {

std::uint32_t ip(const char* text) {
  return inet_addr(text);
}

TEST(AdapterRules, InterfacesAndAddresses) {
  HostAdapters host;
  host.interfaces = {
      {2, kOperOperational, 6, 1000000000, "eth0"},
      {3, 2, 6, 1000000000, "unplugged"},
      {4, kOperConnected, 6, kPseudoInterfaceSpeed, "pseudo"},
      {5, kOperOperational, 0, 0, "nohw"},
      {7, kOperOperational, 6, 0, ""},
      {9, kOperOperational, 6, 0, "wlan0"},
  };
  host.addresses = {
      {ip("192.0.2.1"), 9, ip("255.255.255.0")},
      {ip("192.168.1.20"), 2, ip("255.255.255.0")},
      {ip("127.0.0.1"), 2, ip("255.0.0.0")},
      {ip("127.0.0.2"), 2, ip("255.0.0.0")},
      {ip("198.51.100.3"), 3, ip("255.255.255.0")},
      {ip("198.51.100.4"), 4, 0},
      {ip("198.51.100.5"), 5, 0},
      {ip("198.51.100.7"), 7, 0},
      {ip("198.51.100.8"), 8, 0},
  };
  host.names = {{2, "old"}, {3, "unplugged"}, {2, "LAN"}};
  const std::vector<AdapterEntry> e = selectAdapters(host);
  ASSERT_EQ(e.size(), 3u) << "only eth0 and wlan0 are usable; 127.0.0.1 is excluded";
  EXPECT_EQ(e[0].address, ip("192.0.2.1")) << "address-table order";
  EXPECT_EQ(e[0].interfaceIndex, 9u);
  EXPECT_EQ(e[0].description, "wlan0");
  EXPECT_EQ(adapterLabel(e[0]), "192.0.2.1 ()") << "no adapter name for index 9";
  EXPECT_EQ(adapterLabel(e[1]), "192.168.1.20 (LAN)") << "the later adapter name wins";
  EXPECT_EQ(e[1].mask, ip("255.255.255.0"));
  EXPECT_EQ(adapterLabel(e[2]), "127.0.0.2 (LAN)") << "only 127.0.0.1 itself is excluded";

  // Speed: exactly 1073741824 is a pseudo-interface, 1000000000 is not.
  host.interfaces[2].speed = 1000000000;
  EXPECT_EQ(selectAdapters(host).size(), 4u);
}

TEST(AdapterRules, Limits) {
  HostAdapters host;
  host.interfaces = {{2, kOperOperational, 6, 0, std::string(300, 'd')}};
  for (int i = 0; i < 300; ++i) {
    host.addresses.push_back({htonl(0xC0000200u + static_cast<std::uint32_t>(i)), 2, 0});
  }
  host.names = {{2, std::string(300, 'n')}};
  const std::vector<AdapterEntry> e = selectAdapters(host);
  ASSERT_EQ(e.size(), kMaxAdapterEntries) << "addresses beyond the 256th are ignored";
  EXPECT_EQ(e.back().address, htonl(0xC0000200u + 255));
  EXPECT_EQ(e[0].description.size(), kAdapterTextBytes);
  EXPECT_EQ(e[0].friendlyName.size(), kAdapterTextBytes);
}

TEST(LinuxAdapterProvider, ReadsThisHost) {
  LinuxAdapterProvider provider;
  const HostAdapters host = provider.read();
  bool loopbackSeen = false;
  for (const InterfaceRow& row : host.interfaces) {
    char name[IF_NAMESIZE] = {};
    ASSERT_NE(if_indextoname(row.index, name), nullptr) << "real interface index " << row.index;
    EXPECT_EQ(row.description, name);
    if (row.description == "lo") {
      loopbackSeen = true;
      EXPECT_EQ(row.hardwareAddressLength, 0u) << "loopback has no hardware address";
    }
  }
  EXPECT_TRUE(loopbackSeen);
  bool loopbackAddress = false;
  for (const AddressRow& a : host.addresses) {
    if (a.address == ip("127.0.0.1")) {
      loopbackAddress = true;
      EXPECT_EQ(a.interfaceIndex, if_nametoindex("lo"));
      EXPECT_EQ(a.mask, ip("255.0.0.0"));
    }
  }
  EXPECT_TRUE(loopbackAddress);
  for (const AdapterEntry& e : selectAdapters(host)) {
    EXPECT_NE(e.address, ip("127.0.0.1"));
    EXPECT_NE(e.description, "lo");
  }
}

TEST(AdapterCombo, NoAdapterEndsTheWindow) {
  test::FakeView view;
  test::FakeAdapters adapters;
  adapters.tables.interfaces = {{1, kOperOperational, 0, 0, "lo"}};
  adapters.tables.addresses = {{ip("127.0.0.1"), 1, ip("255.0.0.0")}};
  test::TempDir dir;
  Monitor monitor(kVariantB, view, adapters, nullptr, dir.path(), dir.path(), {1, 0, 1, 0});
  EXPECT_FALSE(monitor.initDialog());
  EXPECT_EQ(view.messageBoxes(), std::vector<std::string>{messages().noAdapter});
  EXPECT_EQ(view.modalResult(), -1);
  EXPECT_EQ(view.text(ctl::kStartStop), "") << "nothing else initialised";
}

TEST(AdapterCombo, LinesAndSelection) {
  test::FakeView view;
  test::FakeAdapters adapters;
  adapters.tables = test::oneUsableAdapter();
  adapters.tables.addresses.push_back({ip("192.0.2.11"), 2, ip("255.255.255.0")});
  test::TempDir dir;
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
