// FileDownload: being written.
#pragma once
