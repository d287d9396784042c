// The worker threads' fault translator and its installation through the platform layer.
#include "Support/StructuredException.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "Platform/FaultHandler.h"

namespace vesk {

void InstallStructuredExceptionTranslator() {
    Platform::InstallFaultTranslator(&TranslateStructuredException);
}

std::string FormatStructuredException(unsigned code, const void* address) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, "Win32 Exception occurred. Code: 0x%x at address 0x%x",
                  code,
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address) & 0xFFFFFFFFu));
    return buffer;
}

void TranslateStructuredException(unsigned code, const void* address) {
    throw std::runtime_error(FormatStructuredException(code, address));
}

}  // namespace vesk
