#include "win32/version_resource.h"

#include <windows.h>

#include <string>
#include <vector>

namespace dravik::win32 {

namespace {

std::wstring programPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

VersionNumbers programVersion() {
  const std::wstring path = programPath();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<BYTE> resource(size + 1);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, resource.data())) return {};
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(resource.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
      length == 0) {
    return {};
  }
  if (!::VerQueryValueW(resource.data(), L"\\", &value, &length) ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  return {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
          HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
}

}  // namespace dravik::win32
