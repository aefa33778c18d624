// Which backend records on Windows: winmm, the one there is.
#include "engine/backend.h"
#include "winmm/winmm_backend.h"

namespace pcmtap {

const char *const kDeviceHint =
    "the default devices are chosen in Windows' Sound settings";

std::unique_ptr<Backend> choose_backend() {
  return std::make_unique<WinmmBackend>();
}

} // namespace pcmtap
