# The portable package: both programs, the unit simulator, icons, desktop entries and the
# operator's README in one folder, unpacked wherever the operator can write (the programs keep
# their settings and logs beside themselves).
install(TARGETS DRAVIK_A DRAVIK_B dravik-unit RUNTIME DESTINATION .)
install(FILES
  ${PROJECT_SOURCE_DIR}/resources/DRAVIK_A.png
  ${PROJECT_SOURCE_DIR}/resources/DRAVIK_B.png
  ${PROJECT_SOURCE_DIR}/resources/DRAVIK_A.desktop
  ${PROJECT_SOURCE_DIR}/resources/DRAVIK_B.desktop
  ${PROJECT_SOURCE_DIR}/packaging/README.txt
  DESTINATION .)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME dravik)
set(CPACK_PACKAGE_VENDOR "DRAVIK monitor team")
set(CPACK_PACKAGE_FILE_NAME "dravik-${PROJECT_VERSION}-linux-x86_64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
