// Compiled into every program of an AddressSanitizer build. A program of this project exits 1 when
// what it was asked to do failed, and tests run it with faults on purpose and expect that 1; the
// sanitizers exit 1 too by default, so a report in such a run would pass for the expected failure.
// A report exits with a code of its own instead. An option given in the environment still wins.
#ifndef VKR_SANITIZER_EXIT
#error "VKR_SANITIZER_EXIT names the exit code of a sanitizer's report"
#endif

#define VKR_STRING2(x) #x
#define VKR_STRING(x) VKR_STRING2(x)

extern "C" {
__attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "exitcode=" VKR_STRING(VKR_SANITIZER_EXIT);
}
__attribute__((visibility("default"), used)) const char* __ubsan_default_options() {
    return "exitcode=" VKR_STRING(VKR_SANITIZER_EXIT) ":print_stacktrace=1";
}
__attribute__((visibility("default"), used)) const char* __lsan_default_options() {
    return "exitcode=" VKR_STRING(VKR_SANITIZER_EXIT);
}
}
