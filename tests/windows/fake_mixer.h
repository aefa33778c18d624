// A device's mixer as winmm shows it, for the mixer inputs' tests: a wave-in
// destination (destination 1, as on real cards, where 0 is the speakers)
// with source lines, an optional MUX or MIXER control whose items list the
// lines backwards (as many drivers do), and MUTE controls on lines.  It
// answers as winmm does: errors for lines and controls it lacks, for
// sizes that do not match, and for a MUX set to anything but one item.
#ifndef PCMTAP_TESTS_WINDOWS_FAKE_MIXER_H
#define PCMTAP_TESTS_WINDOWS_FAKE_MIXER_H

#include "winmm/mixer_api.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace pcmtap {

struct FakeSource {
  std::string name;
  DWORD component_type = MIXERLINE_COMPONENTTYPE_SRC_LINE;
  bool has_mute = false;
  bool muted = false;
};

class FakeMixer final : public MixerApi {
public:
  std::vector<FakeSource> sources;
  DWORD select_type = 0;      // MUX, MIXER, or 0 for none
  std::vector<bool> selected; // by item: item k is source n-1-k
  bool refuse_sets = false;
  bool opens = true;

  // The item that stands for source `s`.
  size_t item(size_t s) const { return sources.size() - 1 - s; }

  MMRESULT open() override {
    return opens ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
  }

  MMRESULT get_line_info(MIXERLINEA *line, DWORD flags) override {
    if (line->cbStruct != sizeof *line)
      return MMSYSERR_INVALPARAM;
    if (flags == MIXER_GETLINEINFOF_COMPONENTTYPE &&
        line->dwComponentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN) {
      fill(line, kDestinationLine, "Recording Control",
           MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
      line->dwDestination = 1;
      line->cConnections = DWORD(sources.size());
      return MMSYSERR_NOERROR;
    }
    if (flags == MIXER_GETLINEINFOF_SOURCE && line->dwDestination == 1 &&
        line->dwSource < sources.size()) {
      const FakeSource &source = sources[line->dwSource];
      fill(line, source_line(line->dwSource), source.name.c_str(),
           source.component_type);
      return MMSYSERR_NOERROR;
    }
    return MIXERR_INVALLINE;
  }

  MMRESULT get_line_controls(MIXERLINECONTROLSA *query, DWORD flags) override {
    if (flags != MIXER_GETLINECONTROLSF_ONEBYTYPE ||
        query->cbStruct != sizeof *query || query->cControls != 1 ||
        query->cbmxctrl != sizeof(MIXERCONTROLA))
      return MMSYSERR_INVALPARAM;
    MIXERCONTROLA *control = query->pamxctrl;
    std::memset(control, 0, sizeof *control);
    control->cbStruct = sizeof *control;
    control->dwControlType = query->dwControlType;
    if (query->dwLineID == kDestinationLine && select_type != 0 &&
        query->dwControlType == select_type) {
      control->dwControlID = kSelectControl;
      control->fdwControl = MIXERCONTROL_CONTROLF_MULTIPLE;
      control->cMultipleItems = DWORD(sources.size());
      return MMSYSERR_NOERROR;
    }
    for (DWORD s = 0; s < sources.size(); ++s)
      if (query->dwLineID == source_line(s) && sources[s].has_mute &&
          query->dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE) {
        control->dwControlID = kMuteControl + s;
        return MMSYSERR_NOERROR;
      }
    return MIXERR_INVALCONTROL;
  }

  MMRESULT get_control_details(MIXERCONTROLDETAILS *details,
                               DWORD flags) override {
    if (details->dwControlID == kSelectControl &&
        flags == MIXER_GETCONTROLDETAILSF_LISTTEXT) {
      if (!fits<MIXERCONTROLDETAILS_LISTTEXTA>(*details, sources.size()))
        return MMSYSERR_INVALPARAM;
      auto *texts =
          static_cast<MIXERCONTROLDETAILS_LISTTEXTA *>(details->paDetails);
      for (size_t s = 0; s < sources.size(); ++s) {
        texts[item(s)] = {};
        texts[item(s)].dwParam1 = source_line(DWORD(s));
        std::strcpy(texts[item(s)].szName, sources[s].name.c_str());
      }
      return MMSYSERR_NOERROR;
    }
    int target = target_of(*details);
    if (flags != MIXER_GETCONTROLDETAILSF_VALUE || target == kNone)
      return MMSYSERR_INVALPARAM;
    auto *out = static_cast<MIXERCONTROLDETAILS_BOOLEAN *>(details->paDetails);
    if (target != kSelect)
      out[0].fValue = sources[size_t(target)].muted;
    for (size_t k = 0; target == kSelect && k < selected.size(); ++k)
      out[k].fValue = selected[k];
    return MMSYSERR_NOERROR;
  }

  MMRESULT set_control_details(MIXERCONTROLDETAILS *details,
                               DWORD flags) override {
    int target = target_of(*details);
    if (flags != MIXER_SETCONTROLDETAILSF_VALUE || target == kNone)
      return MMSYSERR_INVALPARAM;
    if (refuse_sets)
      return MMSYSERR_NOTSUPPORTED;
    auto *in = static_cast<MIXERCONTROLDETAILS_BOOLEAN *>(details->paDetails);
    if (target != kSelect) {
      sources[size_t(target)].muted = in[0].fValue != 0;
      return MMSYSERR_NOERROR;
    }
    std::vector<bool> values;
    for (size_t k = 0; k < selected.size(); ++k)
      values.push_back(in[k].fValue != 0);
    if (select_type == MIXERCONTROL_CONTROLTYPE_MUX &&
        std::count(values.begin(), values.end(), true) != 1)
      return MMSYSERR_INVALPARAM;
    selected = values;
    return MMSYSERR_NOERROR;
  }

private:
  static constexpr DWORD kDestinationLine = 0xFFFF0001;
  static constexpr DWORD kSelectControl = 1;
  static constexpr DWORD kMuteControl = 100;
  static DWORD source_line(DWORD s) { return (s + 1) << 16 | 1; }

  static void fill(MIXERLINEA *line, DWORD id, const char *name, DWORD type) {
    line->dwLineID = id;
    line->dwComponentType = type;
    std::strncpy(line->szName, name, sizeof line->szName - 1);
  }

  // Whether the caller's details are `items` entries of `Detail` over one
  // channel, as a switch is read and written.
  template <typename Detail>
  static bool fits(const MIXERCONTROLDETAILS &details, size_t items) {
    return details.cbStruct == sizeof details && details.cChannels == 1 &&
           details.cMultipleItems == items &&
           details.cbDetails == sizeof(Detail);
  }

  // What a value request reads or writes: the select control, a source's
  // mute, or nothing when it does not fit the control it names.
  static constexpr int kNone = -1;
  static constexpr int kSelect = -2;
  int target_of(const MIXERCONTROLDETAILS &details) const {
    if (details.dwControlID == kSelectControl && select_type != 0)
      return fits<MIXERCONTROLDETAILS_BOOLEAN>(details, sources.size())
                 ? kSelect
                 : kNone;
    DWORD s = details.dwControlID - kMuteControl;
    if (s >= sources.size() || !sources[s].has_mute ||
        !fits<MIXERCONTROLDETAILS_BOOLEAN>(details, 0))
      return kNone;
    return int(s);
  }
};

} // namespace pcmtap

#endif
