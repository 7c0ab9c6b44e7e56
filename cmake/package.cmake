# The Windows zips: `cpack -G ZIP` in a Windows build folder makes Skyrelay-<version>-win64.zip (or
# -win32.zip) holding Skyrelay.exe, skyrelay-sim.exe, skyrelay-aifile.exe and a README.txt for
# Windows users. scripts/package-windows.sh makes and checks both.
if(NOT WIN32)
  return()
endif()

foreach(program Skyrelay skyrelay-sim skyrelay-aifile)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION . COMPONENT programs)
  endif()
endforeach()

# Notepad's line ends, and the version filled in.
configure_file(${CMAKE_SOURCE_DIR}/packaging/README.txt ${CMAKE_BINARY_DIR}/package/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION . COMPONENT programs)
# For developers of programs that read the shared blocks: the page, the header and the example's
# source, in the folders the page's links and build lines name.
install(FILES ${CMAKE_SOURCE_DIR}/docs/shared-blocks.md DESTINATION docs COMPONENT programs)
install(FILES ${CMAKE_SOURCE_DIR}/include/skyrelay/shared_blocks.h DESTINATION include/skyrelay
        COMPONENT programs)
install(FILES ${CMAKE_SOURCE_DIR}/examples/read_aifile.c DESTINATION examples COMPONENT programs)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SKYRELAY_PACKAGE_SYSTEM win64)
else()
  set(SKYRELAY_PACKAGE_SYSTEM win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Skyrelay)
set(CPACK_PACKAGE_VENDOR Skyrelay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Skyrelay-${PROJECT_VERSION}-${SKYRELAY_PACKAGE_SYSTEM})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# The googletest build installs nothing of ours; only the programs and the README go in.
set(CPACK_COMPONENTS_ALL programs)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
