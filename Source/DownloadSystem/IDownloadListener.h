// IDownloadListener: being written.
#pragma once
