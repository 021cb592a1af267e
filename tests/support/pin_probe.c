/* A library that no test program links or loads otherwise, so that a test can see whether the
   loader has unloaded it. */
int kv_pin_probe(void) { return 1; }
