# Debian's hardening flags, from dpkg-buildflags where the machine has it, for
# the Linux programs the package ships: the stack protector, fortified library
# calls, format checks, and relocations read-only and bound at start. Only the
# hardening: the optimisation level stays the project's. CORVANE_HARDENED
# says whether they were applied (not to sanitizer or fuzz builds).
set(CORVANE_HARDENED OFF)
if(WIN32 OR CORVANE_SANITIZE OR CORVANE_FUZZ)
  return()
endif()
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  return()
endif()

function(corvane_buildflags kind pattern result)
  execute_process(COMMAND env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS} --get ${kind}
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags INCLUDE REGEX "${pattern}")
  set(${result} ${flags} PARENT_SCOPE)
endfunction()

corvane_buildflags(CPPFLAGS "^-D_FORTIFY_SOURCE" hardeningDefines)
corvane_buildflags(CXXFLAGS "^-f(stack-protector|stack-clash|cf-protection)|^-Wformat|^-Werror=format" hardeningCompile)
corvane_buildflags(LDFLAGS "^-Wl,-z,(relro|now)$" hardeningLink)
add_compile_options(${hardeningDefines} ${hardeningCompile})
add_link_options(${hardeningLink})
set(CORVANE_HARDENED ON)
message(STATUS "Debian hardening: ${hardeningDefines} ${hardeningCompile} ${hardeningLink}")
