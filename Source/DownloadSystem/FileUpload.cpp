// FileUpload: being written.
#include "DownloadSystem/FileUpload.h"
