// Connection: being written.
#include "DownloadSystem/Connection.h"
