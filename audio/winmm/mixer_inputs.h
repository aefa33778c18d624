// The recording device's inputs as its mixer has them: the source lines of
// the wave-in destination, switched through the destination's MUX or MIXER
// control where it has one, otherwise through each line's MUTE control.
// Free of windows.h, which the engine need not see.
#ifndef PCMTAP_AUDIO_WINMM_MIXER_INPUTS_H
#define PCMTAP_AUDIO_WINMM_MIXER_INPUTS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pcmtap {

class MixerApi;

class MixerInputs {
public:
  // No inputs when the mixer cannot be opened or has no wave-in
  // destination.
  explicit MixerInputs(std::unique_ptr<MixerApi> api);
  ~MixerInputs();
  MixerInputs(const MixerInputs &) = delete;
  MixerInputs &operator=(const MixerInputs &) = delete;

  size_t count() const { return lines_.size(); }
  const char *name(size_t i) const { return lines_[i].name.c_str(); }
  // 1 (digital) to 10 (analog), in the order of winmm's source component
  // types, which is also the order of the library's type codes; 0 for any
  // other type.
  unsigned type_code(size_t i) const;
  bool is_on(size_t i);
  // False when the mixer refused.
  bool set(size_t i, bool on);

private:
  struct Line {
    std::string name;
    uint32_t component_type;
    int item = -1; // in the destination's MUX or MIXER control
    bool has_mute = false;
    uint32_t mute_id = 0;
  };

  void find_select(uint32_t destination_line_id);
  int item_of(uint32_t line_id) const;
  bool set_item(size_t item, bool on);

  std::unique_ptr<MixerApi> api_;
  std::vector<Line> lines_;
  // The destination's MUX or MIXER control; no items when it has neither.
  uint32_t select_type_ = 0;
  uint32_t select_id_ = 0;
  uint32_t select_items_ = 0;
  std::vector<uint32_t> item_lines_; // the line ID behind each item
};

// The default recording device's mixer through winmm.
std::unique_ptr<MixerInputs> open_mixer_inputs();

} // namespace pcmtap

#endif
