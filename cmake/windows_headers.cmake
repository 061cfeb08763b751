# CLI11 and nlohmann-json for a Windows build: header-only, so Debian's own headers serve. Only
# their folders are put on the include path (a copy under the build folder), never the build
# machine's /usr/include as a whole, whose C library headers are not the target's.
set(tarven_host_headers ${CMAKE_BINARY_DIR}/host-headers)
foreach(folder CLI nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: install libcli11-dev and nlohmann-json3-dev")
  endif()
  file(COPY /usr/include/${folder} DESTINATION ${tarven_host_headers})
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${tarven_host_headers})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${tarven_host_headers})
