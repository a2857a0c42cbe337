# The glibc floor of the Linux launcher image: the image runs on every C library from release
# LAUNCHER_GLIBC_FLOOR_VERSION on (see docs/portability.md).
#
# The launcher is linked without the C library's start files and static part and without the
# C++ runtime library, against stub libraries (libc.so.6, libpthread.so.0, libdl.so.2) that
# export only the symbols the launcher calls, each under the version that a C library of the
# floor release binds it to. Its own entry point and the few functions of
# src/platform/posix/floor replace what it no longer links.
#
# launcher_glibc_floor(target) applies this to one executable target.

set(LAUNCHER_GLIBC_FLOOR_VERSION "2.17")
set(_floor_sources "${CMAKE_SOURCE_DIR}/src/platform/posix/floor")
set(_floor_stub_dir "${CMAKE_BINARY_DIR}/glibc-floor")

# The compiler's own flags for the target architecture (-m32 in the i386 build).
separate_arguments(_floor_arch_flags UNIX_COMMAND "${CMAKE_C_FLAGS}")

function(_floor_compiler_file out name)
  execute_process(COMMAND ${CMAKE_C_COMPILER} ${_floor_arch_flags} -print-file-name=${name}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "glibc floor: the compiler does not know ${name} (got '${path}')")
  endif()
  file(REAL_PATH "${path}" path)
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

# The host's C libraries, from which the stubs take each symbol's versions.
set(_floor_host_libraries "")
foreach(library libc.so.6 libpthread.so.0 libdl.so.2)
  _floor_compiler_file(path ${library})
  list(APPEND _floor_host_libraries "${path}")
endforeach()
_floor_compiler_file(LAUNCHER_FLOOR_CRTBEGIN crtbeginS.o)
_floor_compiler_file(LAUNCHER_FLOOR_CRTEND crtendS.o)
find_program(LAUNCHER_OBJDUMP NAMES objdump REQUIRED)

set(_floor_stub_files "")
foreach(stub "c;libc.so.6" "pthread;libpthread.so.0" "dl;libdl.so.2")
  list(GET stub 0 short)
  list(GET stub 1 soname)
  set(list_file "${_floor_sources}/lib${short}.symbols")
  set(asm "${_floor_stub_dir}/lib${short}.s")
  set(map "${_floor_stub_dir}/lib${short}.map")
  # Named lib<short>.so so that -l<short> finds it before the system's library.
  set(library "${_floor_stub_dir}/lib${short}.so")
  add_custom_command(OUTPUT "${asm}" "${map}"
    COMMAND ${CMAKE_COMMAND} -DSYMBOLS=${list_file} -DSONAME=${soname}
            -DFLOOR=${LAUNCHER_GLIBC_FLOOR_VERSION} "-DHOST_LIBRARIES=${_floor_host_libraries}"
            -DOBJDUMP=${LAUNCHER_OBJDUMP} -DOUT_ASM=${asm} -DOUT_MAP=${map}
            -P ${CMAKE_SOURCE_DIR}/cmake/glibc-floor-stub.cmake
    DEPENDS "${list_file}" "${CMAKE_SOURCE_DIR}/cmake/glibc-floor-stub.cmake"
    COMMENT "Generating the ${soname} stub of the glibc floor"
    VERBATIM)
  add_custom_command(OUTPUT "${library}"
    COMMAND ${CMAKE_C_COMPILER} ${_floor_arch_flags} -shared -nostdlib
            -Wl,-soname,${soname} -Wl,--version-script,${map} -o ${library} ${asm}
    DEPENDS "${asm}" "${map}"
    COMMENT "Linking the ${soname} stub of the glibc floor"
    VERBATIM)
  list(APPEND _floor_stub_files "${library}")
endforeach()
add_custom_target(launcher_glibc_floor_stubs DEPENDS ${_floor_stub_files})

function(launcher_glibc_floor target)
  target_sources(${target} PRIVATE
    ${CMAKE_SOURCE_DIR}/src/core/operator_new.cc
    ${_floor_sources}/start.cc
    ${_floor_sources}/libc_compat.cc)
  add_dependencies(${target} launcher_glibc_floor_stubs)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${_floor_stub_files})
  # Link options come before the objects: the stubs' directory and the compiler's start file
  # of position-independent programs (frame registration, __dso_handle). The i386 C library
  # looks for _IO_stdin_used, which its start files would have exported.
  target_link_options(${target} PRIVATE
    -nostdlib "-L${_floor_stub_dir}" "${LAUNCHER_FLOOR_CRTBEGIN}"
    "LINKER:--export-dynamic-symbol=_IO_stdin_used" "LINKER:--as-needed")
  # After the objects and the launcher's libraries: the stubs, the compiler's helpers (64-bit
  # division on i386) and the end file, which must come last.
  target_link_libraries(${target} PRIVATE c pthread dl gcc "${LAUNCHER_FLOOR_CRTEND}")
endfunction()
