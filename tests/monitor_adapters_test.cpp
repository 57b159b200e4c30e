// The adapter combo box of the monitor: its lines and what selecting one does.
#include <gtest/gtest.h>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/controls.h"
#include "monitor/monitor.h"
#include "platform/socket.h"
#include "temp_dir.h"

namespace dravik {
namespace {

const auto ip = [](const char* text) { return sock::resolve(text).value_or(0); };

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
