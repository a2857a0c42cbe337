# Writes the assembly source and the version script of one stub C library for the glibc floor
# (see docs/portability.md). Run in script mode:
#   cmake -DSYMBOLS=list -DSONAME=libc.so.6 -DFLOOR=2.17 -DHOST_LIBRARIES="a;b" -DOBJDUMP=objdump
#         -DOUT_ASM=stub.s -DOUT_MAP=stub.map -P glibc-floor-stub.cmake
# Every name in the symbol list gets the version that a C library of the floor release binds it
# to by default: the newest version at most FLOOR among those the host's libraries define for
# it. The oldest version would be wrong where an interface changed: i386 dlopen@GLIBC_2.0,
# realpath@GLIBC_2.2.5 and clock_gettime@GLIBC_2.2 (then in librt) are compatibility entries.
foreach(var SYMBOLS SONAME FLOOR HOST_LIBRARIES OBJDUMP OUT_ASM OUT_MAP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "glibc-floor-stub.cmake: ${var} is not set")
  endif()
endforeach()

# name -> "version;kind;size" of the best definition seen so far.
foreach(library ${HOST_LIBRARIES})
  execute_process(COMMAND ${OBJDUMP} -T ${library} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -T ${library} failed")
  endif()
  string(REPLACE "\n" ";" lines "${dump}")
  foreach(line ${lines})
    # address, flags (7 columns), section, size, version (in parentheses when not the default)
    # and name; undefined entries have the section *UND* and are skipped.
    if(NOT line MATCHES "^[0-9a-f]+ (.......) ([^ \t]+)[ \t]+([0-9a-f]+)[ \t]+\\(?GLIBC_([0-9.]+)\\)?[ \t]+([^ \t]+)$")
      continue()
    endif()
    set(flags "${CMAKE_MATCH_1}")
    set(section "${CMAKE_MATCH_2}")
    set(size "${CMAKE_MATCH_3}")
    set(version "${CMAKE_MATCH_4}")
    set(name "${CMAKE_MATCH_5}")
    if(section STREQUAL "*UND*" OR version VERSION_GREATER FLOOR)
      continue()
    endif()
    if(DEFINED best_${name})
      list(GET best_${name} 0 seen)
      if(NOT version VERSION_GREATER seen)
        continue()
      endif()
    endif()
    if(flags MATCHES "O")
      set(kind object)
    else()
      set(kind function)
    endif()
    math(EXPR size "0x${size}" OUTPUT_FORMAT DECIMAL)
    set(best_${name} "${version};${kind};${size}")
  endforeach()
endforeach()

file(STRINGS "${SYMBOLS}" entries REGEX "^[A-Za-z_]")
set(asm "# Stub of ${SONAME}: every symbol is a placeholder under its floor version.\n")
string(APPEND asm ".section .note.GNU-stack,\"\",@progbits\n")
set(versions "")
foreach(name ${entries})
  string(STRIP "${name}" name)
  if(NOT DEFINED best_${name})
    message(FATAL_ERROR "${name}: no version at or below GLIBC_${FLOOR} in ${HOST_LIBRARIES}; "
      "the launcher must not call it, or must call an older interface instead")
  endif()
  list(GET best_${name} 0 version)
  list(GET best_${name} 1 kind)
  list(GET best_${name} 2 size)
  if(kind STREQUAL "object")
    string(APPEND asm ".data\n.balign 16\n.globl ${name}\n.type ${name}, @object\n"
      ".size ${name}, ${size}\n${name}:\n.zero ${size}\n")
  else()
    string(APPEND asm ".text\n.globl ${name}\n.type ${name}, @function\n${name}:\nret\n")
  endif()
  string(MAKE_C_IDENTIFIER "${version}" key)
  if(NOT DEFINED names_${key})
    list(APPEND versions "${version}")
  endif()
  string(APPEND names_${key} "    ${name};\n")
endforeach()

list(SORT versions COMPARE NATURAL)
set(map "")
foreach(version ${versions})
  string(MAKE_C_IDENTIFIER "${version}" key)
  string(APPEND map "GLIBC_${version} {\n  global:\n${names_${key}}};\n")
endforeach()

# Written only when changed, so that an unchanged stub does not relink the launcher.
foreach(pair "OUT_ASM;asm" "OUT_MAP;map")
  list(GET pair 0 path_var)
  list(GET pair 1 text_var)
  file(WRITE "${${path_var}}.new" "${${text_var}}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${${path_var}}.new"
    "${${path_var}}")
  file(REMOVE "${${path_var}}.new")
endforeach()
