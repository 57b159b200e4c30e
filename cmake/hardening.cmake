# The programs we ship are built the way Debian builds its own (what `hardening-check` and
# lintian look for): checked buffer functions, stack canaries and stack-clash probes, control
# flow protection, a position-independent executable, read-only relocations bound at start.
# The sanitizer and fuzz builds leave these out: they instrument the same code their own way.

# Checked buffer functions need the optimiser; level 3 also checks sizes known only at run time
# where the compiler can tell them (GCC 12, Clang 9).
if((CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12) OR
   (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 9))
  set(fortify_level 3)
else()
  set(fortify_level 2)
endif()
add_compile_options(
  "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${fortify_level}>"
  -fstack-protector-strong -Wformat -Werror=format-security)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
  add_compile_options(-fcf-protection)
endif()

# What only an ELF system has: the linker's relocation flags, and stack-clash probes and PIE as
# Linux gives them (a Windows build takes its own counterparts from its toolchain file).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_compile_options(-fstack-clash-protection)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
