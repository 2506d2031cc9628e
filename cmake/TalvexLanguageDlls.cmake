# Language libraries as the console installs them: resource-only Windows DLLs built
# from the .rc files in tests/fixtures/language_dlls with the MinGW-w64 resource
# compiler and linker (binutils only, no MinGW compiler). windres preprocesses with
# the host's cpp; the linker scripts keep nothing but .rsrc.
#
# The tests read them, the benchmarks copy them, and the development build puts the
# current-version ones beside the tool as samples. Builds that need none of these
# (a package without its tests) do without the MinGW tools.

set(TALVEX_LANGUAGE_DLL_SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/fixtures/language_dlls)
set(TALVEX_LANGUAGE_DLL_DIR ${PROJECT_BINARY_DIR}/tests/language_dlls)

find_program(TALVEX_WINDRES x86_64-w64-mingw32-windres)
find_program(TALVEX_MINGW_LD x86_64-w64-mingw32-ld)
find_program(TALVEX_CPP cpp)
if(TALVEX_WINDRES AND TALVEX_MINGW_LD AND TALVEX_CPP)
  set(TALVEX_HAVE_LANGUAGE_DLLS ON)
else()
  set(TALVEX_HAVE_LANGUAGE_DLLS OFF)
endif()

# talvex_language_dll(<name> <32|64>): ${TALVEX_LANGUAGE_DLL_DIR}/<name><bits>.dll from
# <name>.rc, made when a target depends on it.
function(talvex_language_dll name bits)
  set(src ${TALVEX_LANGUAGE_DLL_SOURCE_DIR})
  if(bits EQUAL 32)
    set(format pe-i386)
    set(emulation i386pe)
  else()
    set(format pe-x86-64)
    set(emulation i386pep)
  endif()
  set(obj ${TALVEX_LANGUAGE_DLL_DIR}/${name}${bits}.o)
  set(dll ${TALVEX_LANGUAGE_DLL_DIR}/${name}${bits}.dll)
  add_custom_command(OUTPUT ${dll}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TALVEX_LANGUAGE_DLL_DIR}
    COMMAND ${TALVEX_WINDRES} --preprocessor=${TALVEX_CPP} -F ${format} -c 65001
            -i ${src}/${name}.rc -o ${obj}
    COMMAND ${TALVEX_MINGW_LD} -m ${emulation} -T ${src}/rsrc-only${bits}.ld --dll -e 0 -s
            --no-insert-timestamp -o ${dll} ${obj}
    DEPENDS ${src}/${name}.rc ${src}/rsrc-only${bits}.ld
    VERBATIM)
endfunction()

if(TALVEX_HAVE_LANGUAGE_DLLS)
  set(talvex_language_dlls)
  foreach(fixture french:64 french:32 german:32 english:64 italian_old:64
                  second_translation:64 no_version:64)
    string(REPLACE ":" ";" parts ${fixture})
    list(GET parts 0 name)
    list(GET parts 1 bits)
    talvex_language_dll(${name} ${bits})
    list(APPEND talvex_language_dlls ${TALVEX_LANGUAGE_DLL_DIR}/${name}${bits}.dll)
  endforeach()
  add_custom_target(talvex_language_dlls DEPENDS ${talvex_language_dlls})
elseif(TALVEX_BUILD_TESTS OR TALVEX_BUILD_BENCH)
  message(FATAL_ERROR "The language library fixtures need binutils-mingw-w64-x86-64 "
                      "(x86_64-w64-mingw32-windres and -ld) and cpp")
else()
  message(STATUS "No MinGW-w64 binutils: the built tool gets no sample language libraries")
endif()

# talvex_language_samples(<folder>): the current-version libraries in <folder>, the
# "Language" folder beside the built tool, so that a development run offers
# languages. Samples only: they carry a version resource and nothing else.
function(talvex_language_samples folder)
  if(NOT TALVEX_HAVE_LANGUAGE_DLLS)
    return()
  endif()
  set(samples)
  foreach(sample french64:TalvexFRA.DLL german32:TalvexDEU.DLL)
    string(REPLACE ":" ";" parts ${sample})
    list(GET parts 0 fixture)
    list(GET parts 1 installed)
    add_custom_command(OUTPUT ${folder}/${installed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${CMAKE_COMMAND} -E copy ${TALVEX_LANGUAGE_DLL_DIR}/${fixture}.dll
              ${folder}/${installed}
      DEPENDS ${TALVEX_LANGUAGE_DLL_DIR}/${fixture}.dll
      VERBATIM)
    list(APPEND samples ${folder}/${installed})
  endforeach()
  add_custom_target(talvex_language_samples ALL DEPENDS ${samples})
  add_dependencies(talvex_language_samples talvex_language_dlls)
endfunction()
