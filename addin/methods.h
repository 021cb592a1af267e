#pragma once
// The add-in as the host sees it: the catalogue's methods bound to the parts that execute them.
#include "component/vk_object.h"

namespace kv {

const MethodBodies& AddinMethods();

}  // namespace kv
