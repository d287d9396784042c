// Windows backend of FaultHandler.h. MSVC's per-thread structured-exception translator
// needs asynchronous exception handling, which GCC does not have: a C++ throw cannot start
// from a hardware fault's frame. The closest sound equivalent is the process's unhandled-
// exception filter: a fault that nothing handles writes one line naming the code and the
// address to standard error, and the process then ends with the fault's code, as it would
// have without a filter. The translator is therefore never called here.
#include "Platform/FaultHandler.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <mutex>

namespace Platform {

namespace {

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

LONG WINAPI ReportFault(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers != nullptr ? pointers->ExceptionRecord : nullptr;
    if (record != nullptr) {
        std::fprintf(stderr, "Fatal hardware fault 0x%08lx at address %p\n",
                     static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress);
        std::fflush(stderr);
    }
    return previousFilter != nullptr ? previousFilter(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallFaultTranslator(FaultTranslator) {
    static std::once_flag once;
    std::call_once(once, [] { previousFilter = SetUnhandledExceptionFilter(&ReportFault); });
}

}  // namespace Platform
