#pragma once
// tVariant at the 1C:Enterprise 8 boundary, turned into the core's portable Variant and back,
// and the platform's memory manager, from which every string the add-in hands over comes.
#include <cstdint>
#include <string_view>

#include "common/variant.h"
#include "component/vk_object.h"
#include "native/native_api.h"

namespace kv::native {

// The platform's memory manager as setMemManager handed it over; none before that.
class HostMemory {
  public:
    void Attach(IMemoryManager* manager) { manager_ = manager; }
    // `text` with a terminating zero in the platform's memory, which the platform frees.
    // Raises kv::Error when there is no manager or it refuses the memory.
    WideChar* NewText(std::u16string_view text);

  private:
    IMemoryManager* manager_ = nullptr;
};

// The value a tVariant holds: EMPTY, NULL, the integer and real types, BOOL, PWSTR, DATE and
// TM become their portable kinds; anything else (blobs, narrow strings, interfaces, arrays,
// references, a TM that names no real date) a kind that no conversion accepts.
Variant ValueOf(const tVariant& value);

// Replaces `out` with `value`: integers as I4, reals as R8, dates as TM, texts as PWSTR in the
// platform's memory, empty as EMPTY. What `out` held is the platform's and is not freed.
// Raises kv::Error when the memory for a text cannot be had; `out` is then left as it was.
void StoreValue(const Variant& value, tVariant& out, HostMemory& memory);

// The parameters of one call, as the platform passed them. Borrowed for the call.
class VariantParams final : public ParamSource {
  public:
    VariantParams(const tVariant* params, int32_t count) : params_(params), count_(count) {}
    bool Get(int32_t n, Variant& out) const override;

  private:
    const tVariant* params_;
    int32_t count_;
};

}  // namespace kv::native
