#include "mixer_inputs.h"

#include "mixer_api.h"

#include <algorithm>

namespace pcmtap {
namespace {

// The first control of `type` on the line; false when it has none.
bool find_control(MixerApi &api, DWORD line_id, DWORD type,
                  MIXERCONTROLA *control) {
  *control = {};
  control->cbStruct = sizeof *control;
  MIXERLINECONTROLSA query = {};
  query.cbStruct = sizeof query;
  query.dwLineID = line_id;
  query.dwControlType = type;
  query.cControls = 1;
  query.cbmxctrl = sizeof *control;
  query.pamxctrl = control;
  return api.get_line_controls(&query, MIXER_GETLINECONTROLSF_ONEBYTYPE) ==
         MMSYSERR_NOERROR;
}

// Details of a control as if all its channels were one, which is how a
// switch is meant: `items` entries of `Detail`.
template <typename Detail>
MIXERCONTROLDETAILS details_of(DWORD control_id, DWORD items, Detail *entries) {
  MIXERCONTROLDETAILS details = {};
  details.cbStruct = sizeof details;
  details.dwControlID = control_id;
  details.cChannels = 1;
  details.cMultipleItems = items;
  details.cbDetails = sizeof(Detail);
  details.paDetails = entries;
  return details;
}

// One boolean per item (a single one where `items` is 0).
bool read_booleans(MixerApi &api, DWORD control_id, DWORD items,
                   std::vector<MIXERCONTROLDETAILS_BOOLEAN> *values) {
  values->assign(std::max<DWORD>(items, 1), MIXERCONTROLDETAILS_BOOLEAN{});
  MIXERCONTROLDETAILS details = details_of(control_id, items, values->data());
  return api.get_control_details(&details, MIXER_GETCONTROLDETAILSF_VALUE) ==
         MMSYSERR_NOERROR;
}

bool write_booleans(MixerApi &api, DWORD control_id, DWORD items,
                    std::vector<MIXERCONTROLDETAILS_BOOLEAN> *values) {
  MIXERCONTROLDETAILS details = details_of(control_id, items, values->data());
  return api.set_control_details(&details, MIXER_SETCONTROLDETAILSF_VALUE) ==
         MMSYSERR_NOERROR;
}

} // namespace

MixerInputs::MixerInputs(std::unique_ptr<MixerApi> api) : api_(std::move(api)) {
  if (api_->open() != MMSYSERR_NOERROR)
    return;
  MIXERLINEA destination = {};
  destination.cbStruct = sizeof destination;
  destination.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
  if (api_->get_line_info(&destination, MIXER_GETLINEINFOF_COMPONENTTYPE) !=
      MMSYSERR_NOERROR)
    return;
  find_select(destination.dwLineID);
  for (DWORD source = 0; source < destination.cConnections; ++source) {
    MIXERLINEA line = {};
    line.cbStruct = sizeof line;
    line.dwDestination = destination.dwDestination;
    line.dwSource = source;
    if (api_->get_line_info(&line, MIXER_GETLINEINFOF_SOURCE) !=
        MMSYSERR_NOERROR)
      continue;
    Line input;
    input.name = line.szName;
    input.component_type = line.dwComponentType;
    input.item = item_of(line.dwLineID);
    MIXERCONTROLA mute;
    if (input.item < 0 && find_control(*api_, line.dwLineID,
                                       MIXERCONTROL_CONTROLTYPE_MUTE, &mute)) {
      input.has_mute = true;
      input.mute_id = mute.dwControlID;
    }
    lines_.push_back(std::move(input));
  }
}

MixerInputs::~MixerInputs() = default;

// The destination's MUX (one source at a time) or MIXER (any set of
// sources), and which source line each of its items stands for.
void MixerInputs::find_select(uint32_t destination_line_id) {
  for (DWORD type :
       {MIXERCONTROL_CONTROLTYPE_MUX, MIXERCONTROL_CONTROLTYPE_MIXER}) {
    MIXERCONTROLA control;
    if (!find_control(*api_, destination_line_id, type, &control) ||
        control.cMultipleItems == 0)
      continue;
    // Items need not come in the order of the source lines (many drivers
    // list them backwards): each names its line.
    std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts(control.cMultipleItems);
    MIXERCONTROLDETAILS details =
        details_of(control.dwControlID, control.cMultipleItems, texts.data());
    if (api_->get_control_details(
            &details, MIXER_GETCONTROLDETAILSF_LISTTEXT) != MMSYSERR_NOERROR)
      continue;
    select_type_ = type;
    select_id_ = control.dwControlID;
    select_items_ = control.cMultipleItems;
    for (const MIXERCONTROLDETAILS_LISTTEXTA &text : texts)
      item_lines_.push_back(text.dwParam1);
    return;
  }
}

int MixerInputs::item_of(uint32_t line_id) const {
  auto it = std::find(item_lines_.begin(), item_lines_.end(), line_id);
  return it == item_lines_.end() ? -1 : int(it - item_lines_.begin());
}

unsigned MixerInputs::type_code(size_t i) const {
  uint32_t type = lines_[i].component_type;
  if (type <= MIXERLINE_COMPONENTTYPE_SRC_FIRST ||
      type > MIXERLINE_COMPONENTTYPE_SRC_ANALOG)
    return 0;
  return unsigned(type - MIXERLINE_COMPONENTTYPE_SRC_FIRST);
}

bool MixerInputs::is_on(size_t i) {
  const Line &line = lines_[i];
  std::vector<MIXERCONTROLDETAILS_BOOLEAN> values;
  if (line.item >= 0)
    return read_booleans(*api_, select_id_, select_items_, &values) &&
           values[size_t(line.item)].fValue != 0;
  if (line.has_mute)
    return read_booleans(*api_, line.mute_id, 0, &values) &&
           values[0].fValue == 0;
  return true; // nothing switches it: always heard
}

bool MixerInputs::set(size_t i, bool on) {
  const Line &line = lines_[i];
  if (line.item >= 0)
    return set_item(size_t(line.item), on);
  if (!line.has_mute)
    return true; // nothing to switch, and nothing refused
  std::vector<MIXERCONTROLDETAILS_BOOLEAN> muted(1);
  muted[0].fValue = on ? 0 : 1;
  return write_booleans(*api_, line.mute_id, 0, &muted);
}

bool MixerInputs::set_item(size_t item, bool on) {
  std::vector<MIXERCONTROLDETAILS_BOOLEAN> values;
  if (select_type_ == MIXERCONTROL_CONTROLTYPE_MUX) {
    // A MUX always has one item selected: switching an item off can only
    // mean selecting another, which the walk over the inputs does.
    // Nothing to do, and nothing refused, as with ALSA's capture source.
    if (!on)
      return true;
    values.assign(select_items_, MIXERCONTROLDETAILS_BOOLEAN{});
  } else if (!read_booleans(*api_, select_id_, select_items_, &values)) {
    return false;
  }
  values[item].fValue = on ? 1 : 0;
  return write_booleans(*api_, select_id_, select_items_, &values);
}

} // namespace pcmtap
