# Tests of the Windows build, run under wine64 by scripts/test-windows. The support
# library's tests and the engine's tests that need no server run as they are; the platform
# backends have Windows tests of their own (the Linux ones check errno values and /proc);
# the network tests talk WinINet to the native reference server that the script starts.
add_subdirectory(Support)

sorvan_add_test(PlatformWin32BackendsTest SOURCES Platform/Win32BackendsTest.cpp
  LIBS sorvan_platform ws2_32 LABELS platform)
target_compile_definitions(PlatformWin32BackendsTest PRIVATE
  SORVAN_DEMO_SETUP_PROGRAM="$<TARGET_FILE_NAME:DemoSetup>")
add_dependencies(PlatformWin32BackendsTest DemoSetup)

foreach(test_name CRCTest CGZipTest FileSystemTest FileListTest SpeedMeterTest ComputerIdTest)
  sorvan_add_test(DownloadSystem${test_name} SOURCES DownloadSystem/${test_name}.cpp
    LIBS sorvan_download ZLIB::ZLIB LABELS download)
endforeach()
sorvan_add_test(DownloadSystemFileSystemWatcherTest SOURCES DownloadSystem/FileSystemWatcherTest.cpp
  LIBS sorvan_download TIMEOUT 60 LABELS download)

# WinINet against the native reference server that scripts/test-windows starts.
sorvan_add_test(DownloadSystemWin32ReferenceServerTest
  SOURCES DownloadSystem/Win32ReferenceServerTest.cpp
  LIBS sorvan_download ws2_32 TIMEOUT 300 LABELS download)
