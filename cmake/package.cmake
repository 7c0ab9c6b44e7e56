# The Windows download: `cpack -G ZIP` in the mingw-i686 build folder makes
# Skyrelay-<version>-win32.zip holding Skyrelay.exe, skyrelay-sim.exe, skyrelay-aifile.exe,
# stripped, a README.txt for Windows users, and for developers of other readers the shared blocks'
# page, their C header and the example reader's source. scripts/package-windows.sh makes and
# checks it.
# The 32-bit programs are the only ones shipped: they run on 32- and 64-bit Windows alike, match
# FS2002, and get file virtualization as FS2002 does; the x86_64 build is for the tests under Wine.
if(NOT WIN32 OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
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

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Skyrelay)
set(CPACK_PACKAGE_VENDOR Skyrelay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Skyrelay-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# The programs go in without their symbols (the build folder keeps them).
set(CPACK_STRIP_FILES ON)
# The googletest build installs nothing of ours; only the component "programs" goes in.
set(CPACK_COMPONENTS_ALL programs)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
