// Linked into every test program: under the leak checker, cairo's text drawing and
// fontconfig keep process-wide caches that they never free; those are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libcairo.so\n";
}
