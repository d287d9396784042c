# Dependencies of the Windows build, all from Debian: zlib from libz-mingw-w64-dev, the
# header-only JSON and stb libraries from their Debian headers, GLFW, Dear ImGui, libpng and
# libjpeg-turbo compiled from Debian's source packages (scripts/setup --windows fetches them
# into third_party-src/), GoogleTest from the sources libgtest-dev ships. The targets carry the
# names the Linux build gets from find_package and pkg-config, so the layers' CMake files
# need no second spelling. No libcurl, no OpenSSL: WinINet and CryptoAPI do that work.
set(SORVAN_THIRD_PARTY_SOURCES "${CMAKE_SOURCE_DIR}/third_party-src" CACHE PATH
    "Folder with the GLFW, Dear ImGui, libpng and libjpeg-turbo source trees (scripts/setup --windows)")
foreach(tree glfw/CMakeLists.txt imgui/imgui.cpp libpng/png.c libjpeg-turbo/jdapimin.c)
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

# The picture decoders are compiled straight from their sources as static libraries: their
# own CMake files would add tools, tests and shared libraries the program does not need.
# libpng with its stock configuration header.
set(png_dir "${SORVAN_THIRD_PARTY_SOURCES}/libpng")
set(png_config "${CMAKE_BINARY_DIR}/generated/libpng")
configure_file("${png_dir}/scripts/pnglibconf.h.prebuilt" "${png_config}/pnglibconf.h" COPYONLY)
set(png_sources png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset
    pngtrans pngwio pngwrite pngwtran pngwutil)
list(TRANSFORM png_sources PREPEND "${png_dir}/")
list(TRANSFORM png_sources APPEND ".c")
add_library(sorvan_png STATIC ${png_sources})
target_include_directories(sorvan_png SYSTEM PUBLIC "${png_dir}" "${png_config}")
target_link_libraries(sorvan_png PUBLIC ZLIB::ZLIB)
add_library(PNG::PNG ALIAS sorvan_png)

# libjpeg-turbo in plain C (no SIMD: the pictures are small, and no assembler is needed),
# with arithmetic decoding and the in-memory source as in Debian's build.
set(jpeg_dir "${SORVAN_THIRD_PARTY_SOURCES}/libjpeg-turbo")
set(jpeg_config "${CMAKE_BINARY_DIR}/generated/libjpeg-turbo")
# Its configuration headers, filled in a function of their own so the template's variable
# names (VERSION, BUILD, ...) stay out of the project's scope.
function(sorvan_configure_jpeg jpeg_dir jpeg_config)
  file(STRINGS "${jpeg_dir}/CMakeLists.txt" jpeg_version_line REGEX "^set\\(VERSION [0-9.]+\\)")
  string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" VERSION "${jpeg_version_line}")
  string(REPLACE "." ";" jpeg_version_parts "${VERSION}")
  list(GET jpeg_version_parts 0 jpeg_major)
  list(GET jpeg_version_parts 1 jpeg_minor)
  list(GET jpeg_version_parts 2 jpeg_patch)
  math(EXPR LIBJPEG_TURBO_VERSION_NUMBER "${jpeg_major} * 1000000 + ${jpeg_minor} * 1000 + ${jpeg_patch}")
  set(JPEG_LIB_VERSION 62)
  set(BITS_IN_JSAMPLE 8)
  set(C_ARITH_CODING_SUPPORTED 1)
  set(D_ARITH_CODING_SUPPORTED 1)
  set(MEM_SRCDST_SUPPORTED 1)
  set(BUILD sorvan)
  set(INLINE "__inline__ __attribute__((always_inline))")
  set(THREAD_LOCAL "__thread")
  set(CMAKE_PROJECT_NAME libjpeg-turbo)
  set(SIZE_T 8)
  set(HAVE_BUILTIN_CTZL 0)
  set(COPYRIGHT_YEAR "1991-2023")
  foreach(header jconfig jconfigint jversion)
    configure_file("${jpeg_dir}/${header}.h.in" "${jpeg_config}/${header}.h")
  endforeach()
endfunction()
sorvan_configure_jpeg("${jpeg_dir}" "${jpeg_config}")
set(jpeg_sources jcapimin jcapistd jccoefct jccolor jcdctmgr jchuff jcicc jcinit jcmainct
    jcmarker jcmaster jcomapi jcparam jcphuff jcprepct jcsample jctrans jdapimin jdapistd
    jdatadst jdatasrc jdcoefct jdcolor jddctmgr jdhuff jdicc jdinput jdmainct jdmarker
    jdmaster jdmerge jdphuff jdpostct jdsample jdtrans jerror jfdctflt jfdctfst jfdctint
    jidctflt jidctfst jidctint jidctred jquant1 jquant2 jutils jmemmgr jmemnobs
    jaricom jcarith jdarith jsimd_none)
list(TRANSFORM jpeg_sources PREPEND "${jpeg_dir}/")
list(TRANSFORM jpeg_sources APPEND ".c")
add_library(sorvan_jpeg STATIC ${jpeg_sources})
target_include_directories(sorvan_jpeg SYSTEM PUBLIC "${jpeg_config}" "${jpeg_dir}")
add_library(JPEG::JPEG ALIAS sorvan_jpeg)

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
