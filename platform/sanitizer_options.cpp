// sanitizer_options.cpp: the address sanitizer's defaults for every program of
// a sanitizer build.
//
// Tests record leaks with whole call stacks: the system libraries are built
// without frame pointers, so the fast unwinder stops at their first frame, and
// a leak of ours made through fontconfig could not be told from fontconfig's
// own start-up allocations (which tests/lsan.supp suppresses by their callers).
// The programs (built with RAVLIN_PROGRAM) keep the fast unwinder: whole stacks
// for every allocation of the dialog's start-up make them too slow for the
// tests that watch their windows, so they leave fontconfig out as a whole.
#ifdef RAVLIN_PROGRAM
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#else
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
#endif
