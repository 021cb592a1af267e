// The native build has no user regional settings: it takes those of a Russian Windows system.
#include "platform/backend.h"

namespace kv::backend {
namespace {

class RussianRegional final : public RegionalSource {
  public:
    const RegionalSettings& Settings() override { return settings_; }

  private:
    RegionalSettings settings_ = RegionalSettings::Russian();
};

}  // namespace

RegionalSource& Regional() {
    static RussianRegional regional;
    return regional;
}

}  // namespace kv::backend
