// Thread-sanitizer builds of the program and of the tests that draw in-process: the
// software OpenGL driver is not instrumented and its worker threads synchronise in ways
// the sanitizer cannot see, so reports that arise inside the driver are suppressed.
// Linked directly into executables (a static library member would never be pulled in).
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "race:swrast_dri.so\n"
           "mutex:swrast_dri.so\n"
           "race:libgallium\n";
}
#endif
