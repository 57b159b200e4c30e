// Which Wine a Windows test runs under: the tests name it where Wine differs from Windows.
#pragma once

#include <windows.h>

#include <string>

namespace dravik::test {

// The version of Wine this runs under; "" on Windows itself.
inline std::string wineVersion() {
  using Version = const char* (*)();
  const FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
  return found ? reinterpret_cast<Version>(reinterpret_cast<void (*)()>(found))() : "";
}

}  // namespace dravik::test
