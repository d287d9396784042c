# Tests of the download engine classes (included by CMakeLists.txt), and the
# verification memory benchmark (a program, not a test).
set(engine_test_libs sorvan_download sorvan_testservers sorvan_releaseserver ZLIB::ZLIB)

sorvan_add_test(DownloadSystemFileListTest SOURCES FileListTest.cpp LIBS sorvan_download)
sorvan_add_test(DownloadSystemSpeedMeterTest SOURCES SpeedMeterTest.cpp LIBS sorvan_download)
sorvan_add_test(DownloadSystemFileSystemWatcherTest SOURCES FileSystemWatcherTest.cpp LIBS sorvan_download
  TIMEOUT 60)
sorvan_add_test(DownloadSystemDownloadManagerTest SOURCES DownloadManagerTest.cpp LIBS ${engine_test_libs}
  TIMEOUT 60)
sorvan_add_test(DownloadSystemDownloadCoreTest SOURCES DownloadCoreTest.cpp LIBS ${engine_test_libs}
  TIMEOUT 180 LABELS network)

add_executable(VerifyMemoryBenchmark VerifyMemoryBenchmark.cpp)
sorvan_warnings(VerifyMemoryBenchmark)
target_link_libraries(VerifyMemoryBenchmark PRIVATE sorvan_download)
