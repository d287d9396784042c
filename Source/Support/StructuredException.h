// Hardware faults on worker threads. Each worker's Run calls
// InstallStructuredExceptionTranslator first and catches std::exception around its
// work, recording the text with its own prefix.
#pragma once

#include <string>

namespace vesk {

// Installs fault handling for the calling thread. Where the system can turn a
// hardware fault into an exception (Windows), the fault arrives in Run's handler as
// a std::runtime_error with FormatStructuredException's text. Where it cannot do so
// safely (Linux), a fault ends the process after a one-line note on standard error.
void InstallStructuredExceptionTranslator();

// "Win32 Exception occurred. Code: 0x<code> at address 0x<low 32 bits of address>".
std::string FormatStructuredException(unsigned code, const void* address);

// The translator itself: throws std::runtime_error with the text above.
[[noreturn]] void TranslateStructuredException(unsigned code, const void* address);

}  // namespace vesk
