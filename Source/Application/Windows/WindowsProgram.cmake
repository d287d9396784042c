# The Windows program: a GUI-subsystem .exe entered through wWinMain, with its icon,
# version information and application manifest (DPI awareness, long paths, UTF-8 as the
# process code page) compiled in as resources. Runtimes are linked statically by the
# toolchain file, so the .exe runs on a clean Windows 10/11.
enable_language(RC)
set(SORVAN_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0")
set(SORVAN_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0")
set(SORVAN_ICON_FILE "${CMAKE_CURRENT_LIST_DIR}/SorvanDownloadManager.ico")
set(SORVAN_MANIFEST_FILE "${CMAKE_CURRENT_BINARY_DIR}/SorvanDownloadManager.manifest")
configure_file(${CMAKE_CURRENT_LIST_DIR}/SorvanDownloadManager.manifest ${SORVAN_MANIFEST_FILE} @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/SorvanDownloadManager.rc.in
               ${CMAKE_CURRENT_BINARY_DIR}/SorvanDownloadManager.rc @ONLY)

add_executable(SorvanDownloadManager WIN32
  ${CMAKE_CURRENT_LIST_DIR}/WinMain.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/SorvanDownloadManager.rc)
sorvan_warnings(SorvanDownloadManager)
target_link_options(SorvanDownloadManager PRIVATE -municode)
target_link_libraries(SorvanDownloadManager PRIVATE sorvan_application)
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/SorvanDownloadManager.rc APPEND PROPERTY
             OBJECT_DEPENDS ${SORVAN_ICON_FILE} ${SORVAN_MANIFEST_FILE})
