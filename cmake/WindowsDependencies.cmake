# Dependencies of the Windows build, all from Debian: zlib from libz-mingw-w64-dev, the
# header-only JSON and stb libraries from their Debian headers, GLFW and Dear ImGui compiled
# from Debian's source packages (scripts/setup --windows fetches them into
# third_party-src/), GoogleTest from the sources libgtest-dev ships. The targets carry the
# names the Linux build gets from find_package and pkg-config, so the layers' CMake files
# need no second spelling. No libcurl, no OpenSSL: WinINet and CryptoAPI do that work.
set(SORVAN_THIRD_PARTY_SOURCES "${CMAKE_SOURCE_DIR}/third_party-src" CACHE PATH
    "Folder with the GLFW and Dear ImGui source trees (scripts/setup --windows)")
foreach(tree glfw/CMakeLists.txt imgui/imgui.cpp)
  if(NOT EXISTS "${SORVAN_THIRD_PARTY_SOURCES}/${tree}")
    message(FATAL_ERROR "${SORVAN_THIRD_PARTY_SOURCES}/${tree} is missing: run scripts/setup --windows")
  endif()
endforeach()

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
set(OpenGL_GL_PREFERENCE LEGACY)
find_package(OpenGL REQUIRED)

# Header-only libraries: only their own folders are put on the include path, never the
# host's /usr/include as a whole.
set(host_headers "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${host_headers}")
file(CREATE_LINK /usr/include/nlohmann "${host_headers}/nlohmann" SYMBOLIC)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE "${host_headers}")
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

# stb is header-only; Linux links Debian's compiled libstb, here the one decoder in use is
# compiled from the same header.
set(stb_source "${CMAKE_BINARY_DIR}/generated/StbImage.c")
file(WRITE "${stb_source}.in" "#define STB_IMAGE_IMPLEMENTATION\n#include <stb_image.h>\n")
configure_file("${stb_source}.in" "${stb_source}" COPYONLY)
add_library(sorvan_stb STATIC "${stb_source}")
target_include_directories(sorvan_stb SYSTEM PUBLIC /usr/include/stb)
add_library(PkgConfig::STB ALIAS sorvan_stb)

set(GLFW_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(GLFW_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(GLFW_BUILD_DOCS OFF CACHE BOOL "" FORCE)
set(GLFW_INSTALL OFF CACHE BOOL "" FORCE)
add_subdirectory("${SORVAN_THIRD_PARTY_SOURCES}/glfw" "${CMAKE_BINARY_DIR}/_deps/glfw" EXCLUDE_FROM_ALL SYSTEM)

# The project's own code: Windows 10 is the oldest system the program is for, and the
# Unicode (W) functions are used throughout.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE)

set(imgui_dir "${SORVAN_THIRD_PARTY_SOURCES}/imgui")
add_library(sorvan_imgui STATIC
  ${imgui_dir}/imgui.cpp ${imgui_dir}/imgui_draw.cpp ${imgui_dir}/imgui_tables.cpp
  ${imgui_dir}/imgui_widgets.cpp ${imgui_dir}/imgui_demo.cpp)
target_include_directories(sorvan_imgui SYSTEM PUBLIC ${imgui_dir})
add_library(PkgConfig::IMGUI ALIAS sorvan_imgui)

if(SORVAN_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
  # Its CMake files define the GTest:: names themselves.
endif()
