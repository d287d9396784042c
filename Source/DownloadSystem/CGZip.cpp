// CGZip: being written.
#include "DownloadSystem/CGZip.h"
