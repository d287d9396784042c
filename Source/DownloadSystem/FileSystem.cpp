// FileSystem: being written.
#include "DownloadSystem/FileSystem.h"
