// What each backend of Files.h provides to the shared File code (Files.cpp).
#pragma once

namespace Platform {

// Closes a descriptor whose close result nobody waits for, leaving the last error number
// as it was.
void CloseQuietly(int descriptor);

}  // namespace Platform
