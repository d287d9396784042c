# Tests of the download engine classes (included by CMakeLists.txt), and the
# verification memory benchmark (a program, not a test).
set(engine_test_libs sorvan_download sorvan_testservers sorvan_releaseserver ZLIB::ZLIB)

sorvan_add_test(FileListTest SOURCES FileListTest.cpp LIBS sorvan_download)
sorvan_add_test(SpeedMeterTest SOURCES SpeedMeterTest.cpp LIBS sorvan_download)
sorvan_add_test(FileSystemWatcherTest SOURCES FileSystemWatcherTest.cpp LIBS sorvan_download
  TIMEOUT 60)
sorvan_add_test(DownloadManagerTest SOURCES DownloadManagerTest.cpp LIBS ${engine_test_libs}
  TIMEOUT 60)
sorvan_add_test(DownloadCoreTest SOURCES DownloadCoreTest.cpp LIBS ${engine_test_libs}
  TIMEOUT 180 LABELS network)

add_executable(VerifyMemoryBenchmark VerifyMemoryBenchmark.cpp)
sorvan_warnings(VerifyMemoryBenchmark)
target_link_libraries(VerifyMemoryBenchmark PRIVATE sorvan_download)
