// The Windows adapter provider over the host's own adapters.
#include "platform/adapter_provider_windows.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/socket.h"

namespace dravik {
namespace {

// Whether `mask` (network byte order) is ones from the top, then zeros.
bool isPrefixMask(std::uint32_t mask) {
  for (int bits = 1; bits <= 32; ++bits) {
    const std::uint32_t ones = ~0u << (32 - bits);
    if (mask == sock::ipv4(ones >> 24, ones >> 16 & 0xFF, ones >> 8 & 0xFF, ones & 0xFF))
      return true;
  }
  return false;
}

TEST(WindowsAdapterProvider, EveryAddressBelongsToANamedAdapterAndLoopbackIsLeftOut) {
  const HostAdapters host = WindowsAdapterProvider().read();
  ASSERT_EQ(host.names.size(), host.interfaces.size()) << "one name per adapter";
  for (std::size_t i = 0; i < host.interfaces.size(); ++i) {
    const InterfaceRow& row = host.interfaces[i];
    EXPECT_TRUE(row.index != 0 && host.names[i].interfaceIndex == row.index &&
                !row.description.empty() && !host.names[i].friendlyName.empty())
        << "adapter " << row.index << " " << row.description;
  }
  for (const AddressRow& a : host.addresses) {
    const std::string text = sock::addressText(a.address);
    EXPECT_FALSE(text.starts_with("127.")) << "the loopback adapter is never listed";
    EXPECT_TRUE(std::ranges::any_of(
        host.interfaces, [&](const InterfaceRow& row) { return row.index == a.interfaceIndex; }))
        << text << " has no adapter";
    EXPECT_TRUE(isPrefixMask(a.mask)) << text << " mask " << sock::addressText(a.mask);
  }
}

}  // namespace
}  // namespace dravik
