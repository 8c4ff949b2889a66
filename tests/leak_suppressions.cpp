// Linked into every test program and into the sanitizer build of the tool: under the leak
// checker, cairo's text drawing and fontconfig keep process-wide caches that they never free,
// and so does GIO's reader of the MIME database; those are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libcairo.so\nleak:libgio-2.0.so\n";
}
