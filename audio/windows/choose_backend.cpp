// Which backend records on Windows: winmm, the one there is.
#include "engine/backend.h"
#include "winmm/winmm_backend.h"

namespace pcmtap {

std::unique_ptr<Backend> choose_backend() {
  return std::make_unique<WinmmBackend>();
}

} // namespace pcmtap
