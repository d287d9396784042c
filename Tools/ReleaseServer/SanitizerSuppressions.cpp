// Thread-sanitizer builds of the server and of its tests: Debian's cpp-httplib is a shared
// library built without the sanitizer. Its function-local statics are read on their fast
// path without a guard call the sanitizer can see, so the first requests that run
// side by side are reported as racing inside the library; those reports are suppressed.
// Linked directly into executables (a static library member would never be pulled in).
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "race:libcpp-httplib.so\n";
}
#endif
