# Warning flags shared by every target of the project.
add_library(corvane_warnings INTERFACE)
target_compile_options(corvane_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Woverloaded-virtual -Wimplicit-fallthrough)
if(CORVANE_WERROR)
  target_compile_options(corvane_warnings INTERFACE -Werror)
endif()
if(WIN32)
  # COM interfaces are released through Release(), never deleted through a base pointer.
  target_compile_options(corvane_warnings INTERFACE -Wno-non-virtual-dtor)
endif()
