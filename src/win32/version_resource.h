// The version numbers of the running program, read from its own version resource as Windows
// programs read theirs: the resource, not a number compiled into the code, says which version
// a file is.
#pragma once

#include "monitor/monitor.h"

namespace dravik::win32 {

// The four numbers of the file version ("1, 0, 1, 0" gives "Version 1.01"). All 0 when the
// program carries no version resource or no translation list in it.
VersionNumbers programVersion();

}  // namespace dravik::win32
