#include "platform/program_directory.h"

#include <filesystem>
#include <system_error>

#include "platform/cp932.h"

namespace dravik {

std::string programDirectory() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !program.has_parent_path()) return ".";
  return cp932::fromUtf8(program.parent_path().string());
}

}  // namespace dravik
