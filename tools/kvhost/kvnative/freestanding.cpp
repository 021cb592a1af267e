// The functions that the compiler calls on its own in a program without a runtime library:
// memory copies and fills for structures, operator delete for the deleting destructors of
// classes with a virtual destructor (the proxy never deletes through one), the marker that
// floating point is used, and the slot of a pure virtual function.
#include "tools/kvhost/kvnative/freestanding.h"

extern "C" {

// Built with -ffreestanding, so these loops stay loops and do not become calls to themselves.
void* memcpy(void* to, const void* from, size_t bytes) {
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    for (size_t i = 0; i < bytes; ++i) out[i] = in[i];
    return to;
}

void* memset(void* to, int byte, size_t bytes) {
    auto* out = static_cast<unsigned char*>(to);
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(byte);
    return to;
}

int _fltused = 0;

// A pure virtual function called while an object is being built or destroyed: nothing sane
// can follow, so the process ends as after any fault.
int _purecall() { __builtin_trap(); }
}

void operator delete(void* block) noexcept { kvn::Release(block); }
void operator delete(void* block, size_t) noexcept { kvn::Release(block); }
