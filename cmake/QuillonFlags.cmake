# Compiler and linker settings shared by every target.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT WIN32)
  # The product library is loaded with dlopen; its few thread-local variables (a thread's id,
  # read by every lock) then come from the static TLS reserve instead of a __tls_get_addr call
  # on each access, and the address sanitizer's dynamic-TLS bookkeeping (which faults at exit
  # with this glibc) never sees them.
  add_compile_options(-ftls-model=initial-exec)
endif()

if(MINGW)
  # A stock Windows has no MinGW run-time DLLs: link libgcc, libstdc++ and winpthread statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()

set(QUILLON_SANITIZE "" CACHE STRING "Sanitizers for the native build: address,undefined or thread")
if(QUILLON_SANITIZE)
  add_compile_options(-fsanitize=${QUILLON_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUILLON_SANITIZE})
  if(QUILLON_SANITIZE MATCHES "undefined")
    # Host objects come from other compilers and carry no C++ type information to check.
    add_compile_options(-fno-sanitize=vptr)
  endif()
endif()

# quillon_subsystem(NAME SOURCES... [DEPENDS targets...]): one static library per subsystem.
function(quillon_subsystem name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(quillon_${name} STATIC ${ARG_SOURCES})
  target_include_directories(quillon_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(quillon_${name} PUBLIC ${ARG_DEPENDS})
endfunction()
