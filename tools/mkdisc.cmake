# The demo disc: the art tool, the stand-in installer, and the disc itself
# in build/disc (tools/mkdisc makes one anywhere from a build).
add_executable(mkdisc_art mkdisc_main.cpp mkdisc_art.cpp mkdisc_files.cpp)
target_compile_options(mkdisc_art PRIVATE -fexec-charset=CP936)
target_link_libraries(mkdisc_art PRIVATE win32_gui win32_kernel)

add_executable(Qarmet mkdisc_qarmet.cpp)
set_target_properties(Qarmet PROPERTIES OUTPUT_NAME Qarmet.exe)

set(DISC_STAMP ${CMAKE_BINARY_DIR}/disc/.made)
add_custom_command(
  OUTPUT ${DISC_STAMP}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          ${CMAKE_CURRENT_SOURCE_DIR}/mkdisc ${CMAKE_BINARY_DIR}/disc ${CMAKE_BINARY_DIR}
  COMMAND ${CMAKE_COMMAND} -E touch ${DISC_STAMP}
  DEPENDS mkdisc_art Qarmet CDROM sonvex32 win32_kernel win32_gui win32_multimedia
          ${CMAKE_CURRENT_SOURCE_DIR}/mkdisc
  COMMENT "Making the demo disc in ${CMAKE_BINARY_DIR}/disc"
  VERBATIM)
add_custom_target(disc ALL DEPENDS ${DISC_STAMP})
