// Allocations that the font configuration library keeps for the life of the
// process (a cache it never frees) are no leak of ours; the leak checker of
// sanitizer builds reads this list.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
