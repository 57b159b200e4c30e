// Where the running program lives: the default home of its log, settings and startup files.
#pragma once

#include <string>

namespace dravik {

// The running program's folder as CP932 bytes, without a trailing "/" (except "/" itself);
// "." when the program's own path cannot be read.
std::string programDirectory();

}  // namespace dravik
