// sanitizer_options.cpp: the address sanitizer's defaults for every program of
// a sanitizer build.
//
// Leaks are recorded with whole call stacks: the system libraries are built
// without frame pointers, so the fast unwinder stops at their first frame, and
// a leak of ours made through fontconfig could not be told from fontconfig's
// own start-up allocations (which tests/lsan.supp suppresses by their callers).
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
