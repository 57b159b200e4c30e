// Made-up host adapter tables for the tests.
#pragma once

#include "net/adapter_table.h"
#include "platform/socket.h"

namespace dravik::test {

// Answers with whatever tables the test sets; empty tables by default.
struct FakeAdapters : AdapterProvider {
  HostAdapters read() override { return tables; }
  HostAdapters tables;
};

// One usable interface "eth0" (index 2) holding 192.0.2.10/24, named "LAN".
inline HostAdapters oneUsableAdapter() {
  return {.interfaces = {{2, kOperOperational, 6, 1000000000, "eth0"}},
          .addresses = {{sock::ipv4(192, 0, 2, 10), 2, sock::ipv4(255, 255, 255, 0)}},
          .names = {{2, "LAN"}}};
}

}  // namespace dravik::test
