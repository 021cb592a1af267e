/* A library with nothing in it, built for the other processor: one that the system finds and
   refuses for its bitness. */
__declspec(dllexport) int kv_trivial(void) { return 1; }
