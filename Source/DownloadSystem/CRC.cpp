// CRC: being written.
#include "DownloadSystem/CRC.h"
