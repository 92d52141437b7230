# Debian's hardening flags, as dpkg-buildflags gives them with every feature
# on: fortified C library functions, stack protector, format checks, and
# relocations made read-only and bound at start (relro, bindnow). The program
# that is packaged and the one the tests run are built alike. Optimisation
# and debug information stay the build type's; the file-name mapping is left
# out, as it names whatever directory cmake happens to be run from.
option(HPVISIT_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(HPVISIT_HARDENING AND DPKG_BUILDFLAGS AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(g|O.*|ffile-prefix-map=.*)$")
    foreach(flag IN LISTS flags)
      if(kind STREQUAL "LDFLAGS")
        add_link_options(${flag})
      elseif(flag MATCHES "^-D_FORTIFY_SOURCE")
        # Fortified functions need an optimised build.
        add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
      else()
        add_compile_options(${flag})
      endif()
    endforeach()
  endforeach()
endif()
