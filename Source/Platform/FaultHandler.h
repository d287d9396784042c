// Hardware faults (access violations, bus errors, illegal instructions) on worker
// threads. A backend turns a fault into a call of the translator where that is safe
// (Windows: the per-thread structured-exception translator, which may throw) and
// otherwise only reports the fault before the process ends.
#pragma once

namespace Platform {

// Called with the system's fault code and the faulting address; it may throw.
using FaultTranslator = void (*)(unsigned code, const void* address);

// Installs fault handling for the calling thread (Windows) or once for the process
// (Linux). Linux cannot safely continue after a hardware fault, so there the
// translator is never called: a fault writes one line naming the signal and address
// to standard error and the process ends with the signal's default action. Handlers
// someone else installed (a debugger, a sanitizer) are left in place.
void InstallFaultTranslator(FaultTranslator translator);

}  // namespace Platform
