# What `cmake --install` puts where, and the package CPack makes of it
# (`cpack` in the build directory):
#  - Windows (mingw preset): Kestrelumen-<version>-win64.zip with the
#    stripped plug-in, the install note and SHA256SUMS;
#  - Linux (linux preset): Kestrelumen-<version>-linux-x86_64.tar.gz with the
#    tool, the plug-in it loads (and its registration resource), the tool's
#    help text, the note and SHA256SUMS.
# Included last by the top-level CMakeLists.txt, so that every target exists
# and the checksums are written after every other file is installed.

set(note "${CMAKE_BINARY_DIR}/packaging/INSTALL.txt")
set(KESTRELUMEN_VERSION "${PROJECT_VERSION}")
set(KESTRELUMEN_VERSION_MAJOR_MINOR "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
configure_file("${PROJECT_SOURCE_DIR}/packaging/INSTALL.txt" "${note}" @ONLY)

if(WIN32)
  set(package_system win64)
  set(CPACK_GENERATOR ZIP)
  install(TARGETS Kestrelumen LIBRARY DESTINATION .)
  install(FILES "${note}" DESTINATION .)
  set(summed Kestrelumen.aex INSTALL.txt)
else()
  set(package_system linux-x86_64)
  set(CPACK_GENERATOR TGZ)
  # The tool looks for the plug-in in ../plugin/ from its own folder.
  install(TARGETS Kestrelumen LIBRARY DESTINATION plugin)
  install(FILES "${KESTRELUMEN_PIPL_FILE}" DESTINATION plugin)
  install(FILES "${note}" DESTINATION .)
  set(summed plugin/Kestrelumen.so plugin/Kestrelumen.pipl INSTALL.txt)
  if(TARGET kestrelumen)
    set(help "${CMAKE_BINARY_DIR}/packaging/kestrelumen.txt")
    add_custom_command(OUTPUT "${help}"
      COMMAND "${CMAKE_COMMAND}" -DTOOL=$<TARGET_FILE:kestrelumen> "-DOUT=${help}"
              -P "${PROJECT_SOURCE_DIR}/cmake/WriteHelpText.cmake"
      DEPENDS kestrelumen "${PROJECT_SOURCE_DIR}/cmake/WriteHelpText.cmake"
      COMMENT "Writing the tool's help text"
      VERBATIM)
    add_custom_target(kestrelumen_help_text ALL DEPENDS "${help}")
    install(TARGETS kestrelumen RUNTIME DESTINATION bin)
    install(FILES "${help}" DESTINATION share/doc/kestrelumen)
    list(APPEND summed bin/kestrelumen share/doc/kestrelumen/kestrelumen.txt)
  endif()
endif()

# SHA256SUMS in the format `sha256sum -c` reads, of the files as installed.
install(CODE "set(summed \"${summed}\")")
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(lines "")
  foreach(file IN LISTS summed)
    file(SHA256 "${root}/${file}" hash)
    string(APPEND lines "${hash}  ${file}\n")
  endforeach()
  file(WRITE "${root}/SHA256SUMS" "${lines}")
  message(STATUS "Installing: ${root}/SHA256SUMS")
]])

set(CPACK_PACKAGE_NAME Kestrelumen)
set(CPACK_PACKAGE_VENDOR Tobrinel)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "Kestrelumen-${PROJECT_VERSION}-${package_system}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
# Every file at the top of the archive's one folder, Kestrelumen-<version>-<system>/.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES OFF)  # the plug-in is stripped when built, and tested so
include(CPack)
