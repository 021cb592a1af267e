/* A library that needs kv_absent.dll, which exists nowhere: loading it fails for the missing
   dependency while the library itself is found. */
__declspec(dllimport) int kv_absent_function(void);

__declspec(dllexport) int kv_needs_absent(void) { return kv_absent_function(); }
