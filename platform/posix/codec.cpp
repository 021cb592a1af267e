// The native build has no system ANSI code page: it is Windows-1251, as on the pharmacies'
// Russian Windows systems.
#include "platform/backend.h"

namespace kv::backend {

TextCodec& Codec() {
    static Cp1251Codec codec;
    return codec;
}

}  // namespace kv::backend
