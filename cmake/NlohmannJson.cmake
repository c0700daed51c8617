# nlohmann-json (header-only; Debian: nlohmann-json3-dev) as the target
# vantoir_json. A native build takes the package's own CMake files. A cross
# build for Windows must not search the build machine's /usr/include (its C
# library headers would shadow mingw's), so the one folder nlohmann/ is linked
# into a folder of the build tree, and only that folder is added.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3 REQUIRED)
  add_library(vantoir_json INTERFACE)
  target_link_libraries(vantoir_json INTERFACE nlohmann_json::nlohmann_json)
  return()
endif()

find_path(VANTOIR_NLOHMANN_INCLUDE_DIR nlohmann/json.hpp
  PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT VANTOIR_NLOHMANN_INCLUDE_DIR)
  message(FATAL_ERROR "nlohmann/json.hpp not found (Debian: apt-get install nlohmann-json3-dev)")
endif()
set(vantoir_json_dir ${PROJECT_BINARY_DIR}/third-party/include)
file(MAKE_DIRECTORY ${vantoir_json_dir})
file(CREATE_LINK ${VANTOIR_NLOHMANN_INCLUDE_DIR}/nlohmann ${vantoir_json_dir}/nlohmann SYMBOLIC)
add_library(vantoir_json INTERFACE)
target_include_directories(vantoir_json SYSTEM INTERFACE ${vantoir_json_dir})
