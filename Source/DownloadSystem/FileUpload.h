// FileUpload: being written.
#pragma once
