# The engine and reporting classes of the download library (included by CMakeLists.txt).
set(engine_sources
  ComputerId.cpp ComputerId.h
  DownloadCore.cpp DownloadCore.h
  DownloadManager.cpp DownloadManager.h
  DownloadManagerFileList.cpp
  DownloadManagerFiles.cpp
  DownloadManagerHosts.cpp
  DownloadManagerLogReport.cpp
  DownloadManagerManifest.cpp
  DownloadManagerSetup.cpp
  DownloadManagerVerify.cpp
  Endpoints.cpp Endpoints.h
  FileList.cpp FileList.h
  FileSystemWatcher.cpp FileSystemWatcher.h
  SpeedMeter.cpp SpeedMeter.h
  TickCount.h)
