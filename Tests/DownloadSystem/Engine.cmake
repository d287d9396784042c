# Tests of the download engine classes (included by CMakeLists.txt).
