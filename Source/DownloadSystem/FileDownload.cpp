// FileDownload: being written.
#include "DownloadSystem/FileDownload.h"
