# The Windows packages (cmake --build build-windows --target windows-packages), beside the
# build's programs:
# - dravik-<version>-windows-x64.zip, the portable folder: both programs, the unit simulator,
#   README.txt and LICENSE.txt. Unpacked where the operator can write, the programs keep their
#   files beside themselves.
# - dravik-<version>-setup.exe, the NSIS installer (Debian's nsis, 64-bit Unicode stubs): the
#   same files in Program Files, Start-menu entries and an uninstaller in the installed
#   programs. Installed there, the programs keep their files in per-user folders.
find_program(DRAVIK_MAKENSIS makensis REQUIRED)
set(windows ${PROJECT_SOURCE_DIR}/packaging/windows)
set(folder dravik-${PROJECT_VERSION}-windows-x64)
set(stage ${PROJECT_BINARY_DIR}/windows-package/${folder})
set(zip ${PROJECT_BINARY_DIR}/${folder}.zip)
set(setup ${PROJECT_BINARY_DIR}/dravik-${PROJECT_VERSION}-setup.exe)

# Texts as Windows programs read them: CR LF line ends; the README keeps its UTF-8 mark, which
# tells Notepad its encoding on a system of any language.
set(texts ${PROJECT_BINARY_DIR}/windows-package/texts)
configure_file(${windows}/README.txt ${texts}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${texts}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

add_custom_command(OUTPUT ${zip} ${setup}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${zip} ${setup}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
  # Symbols help no one who runs the programs.
  COMMAND ${CMAKE_STRIP} -o ${stage}/DRAVIK_A.exe $<TARGET_FILE:DRAVIK_A>
  COMMAND ${CMAKE_STRIP} -o ${stage}/DRAVIK_B.exe $<TARGET_FILE:DRAVIK_B>
  COMMAND ${CMAKE_STRIP} -o ${stage}/dravik-unit.exe $<TARGET_FILE:dravik-unit>
  COMMAND ${CMAKE_COMMAND} -E copy ${texts}/README.txt ${texts}/LICENSE.txt ${stage}
  COMMAND ${CMAKE_COMMAND} -E chdir ${stage}/.. ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip
    ${folder}
  COMMAND ${DRAVIK_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${stage}
    -DICON=${PROJECT_BINARY_DIR}/src/DRAVIK_A.ico -DOUTFILE=${setup} ${windows}/dravik.nsi
  DEPENDS DRAVIK_A DRAVIK_B dravik-unit ${windows}/dravik.nsi ${windows}/README.txt
    ${PROJECT_SOURCE_DIR}/LICENSE
  VERBATIM)
add_custom_target(windows-packages DEPENDS ${zip} ${setup})
