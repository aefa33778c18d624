#include "libpulse.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <dlfcn.h>

namespace pcmtap {
namespace {

void *library() {
  // Never closed: its functions may be in use until the process ends.
  static void *handle = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
  return handle;
}

// The loaded library's `name`; only called once libpulse_loaded() held.
template <typename F> F *real(F *, const char *name) {
  return reinterpret_cast<F *>(dlsym(library(), name));
}

} // namespace

bool libpulse_loaded() { return library() != nullptr; }

} // namespace pcmtap

// Each function finds its counterpart once and calls it.
#define PCMTAP_FORWARD(ret, name, params, args)                                \
  extern "C" ret name params {                                                 \
    static auto *const to = pcmtap::real(&name, #name);                        \
    return to args;                                                            \
  }

PCMTAP_FORWARD(pa_mainloop *, pa_mainloop_new, (void), ())
PCMTAP_FORWARD(void, pa_mainloop_free, (pa_mainloop * m), (m))
PCMTAP_FORWARD(pa_mainloop_api *, pa_mainloop_get_api, (pa_mainloop * m), (m))
PCMTAP_FORWARD(int, pa_mainloop_iterate,
               (pa_mainloop * m, int block, int *retval), (m, block, retval))
PCMTAP_FORWARD(int, pa_mainloop_prepare, (pa_mainloop * m, int timeout),
               (m, timeout))
PCMTAP_FORWARD(int, pa_mainloop_poll, (pa_mainloop * m), (m))
PCMTAP_FORWARD(int, pa_mainloop_dispatch, (pa_mainloop * m), (m))
PCMTAP_FORWARD(pa_context *, pa_context_new,
               (pa_mainloop_api * api, const char *name), (api, name))
PCMTAP_FORWARD(int, pa_context_connect,
               (pa_context * c, const char *server, pa_context_flags_t flags,
                const pa_spawn_api *api),
               (c, server, flags, api))
PCMTAP_FORWARD(void, pa_context_disconnect, (pa_context * c), (c))
PCMTAP_FORWARD(void, pa_context_unref, (pa_context * c), (c))
PCMTAP_FORWARD(int, pa_context_errno, (const pa_context *c), (c))
PCMTAP_FORWARD(pa_context_state_t, pa_context_get_state, (const pa_context *c),
               (c))
PCMTAP_FORWARD(pa_time_event *, pa_context_rttime_new,
               (const pa_context *c, pa_usec_t usec, pa_time_event_cb_t cb,
                void *userdata),
               (c, usec, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_get_source_info_by_name,
               (pa_context * c, const char *name, pa_source_info_cb_t cb,
                void *userdata),
               (c, name, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_get_source_info_list,
               (pa_context * c, pa_source_info_cb_t cb, void *userdata),
               (c, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_get_card_info_list,
               (pa_context * c, pa_card_info_cb_t cb, void *userdata),
               (c, cb, userdata))
PCMTAP_FORWARD(const char *, pa_proplist_gets,
               (const pa_proplist *p, const char *key), (p, key))
PCMTAP_FORWARD(pa_operation *, pa_context_get_sink_info_by_name,
               (pa_context * c, const char *name, pa_sink_info_cb_t cb,
                void *userdata),
               (c, name, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_get_sink_info_by_index,
               (pa_context * c, uint32_t idx, pa_sink_info_cb_t cb,
                void *userdata),
               (c, idx, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_get_sink_input_info_list,
               (pa_context * c, pa_sink_input_info_cb_t cb, void *userdata),
               (c, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_get_client_info_list,
               (pa_context * c, pa_client_info_cb_t cb, void *userdata),
               (c, cb, userdata))
PCMTAP_FORWARD(void, pa_context_set_subscribe_callback,
               (pa_context * c, pa_context_subscribe_cb_t cb, void *userdata),
               (c, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_subscribe,
               (pa_context * c, pa_subscription_mask_t m,
                pa_context_success_cb_t cb, void *userdata),
               (c, m, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_set_source_port_by_name,
               (pa_context * c, const char *name, const char *port,
                pa_context_success_cb_t cb, void *userdata),
               (c, name, port, cb, userdata))
PCMTAP_FORWARD(pa_operation *, pa_context_set_source_mute_by_name,
               (pa_context * c, const char *name, int mute,
                pa_context_success_cb_t cb, void *userdata),
               (c, name, mute, cb, userdata))
PCMTAP_FORWARD(pa_operation_state_t, pa_operation_get_state,
               (const pa_operation *o), (o))
PCMTAP_FORWARD(void, pa_operation_cancel, (pa_operation * o), (o))
PCMTAP_FORWARD(void, pa_operation_unref, (pa_operation * o), (o))
PCMTAP_FORWARD(pa_stream *, pa_stream_new,
               (pa_context * c, const char *name, const pa_sample_spec *ss,
                const pa_channel_map *map),
               (c, name, ss, map))
PCMTAP_FORWARD(int, pa_stream_connect_record,
               (pa_stream * s, const char *dev, const pa_buffer_attr *attr,
                pa_stream_flags_t flags),
               (s, dev, attr, flags))
PCMTAP_FORWARD(pa_stream_state_t, pa_stream_get_state, (const pa_stream *s),
               (s))
PCMTAP_FORWARD(const pa_buffer_attr *, pa_stream_get_buffer_attr,
               (pa_stream * s), (s))
PCMTAP_FORWARD(int, pa_stream_peek,
               (pa_stream * s, const void **data, size_t *nbytes),
               (s, data, nbytes))
PCMTAP_FORWARD(int, pa_stream_drop, (pa_stream * s), (s))
PCMTAP_FORWARD(void, pa_stream_set_read_callback,
               (pa_stream * s, pa_stream_request_cb_t cb, void *userdata),
               (s, cb, userdata))
PCMTAP_FORWARD(int, pa_stream_set_monitor_stream,
               (pa_stream * s, uint32_t sink_input_idx), (s, sink_input_idx))
PCMTAP_FORWARD(void, pa_stream_set_state_callback,
               (pa_stream * s, pa_stream_notify_cb_t cb, void *userdata),
               (s, cb, userdata))
PCMTAP_FORWARD(void, pa_stream_set_suspended_callback,
               (pa_stream * s, pa_stream_notify_cb_t cb, void *userdata),
               (s, cb, userdata))
PCMTAP_FORWARD(int, pa_stream_is_suspended, (const pa_stream *s), (s))
PCMTAP_FORWARD(size_t, pa_stream_readable_size, (const pa_stream *s), (s))
PCMTAP_FORWARD(pa_operation *, pa_stream_update_timing_info,
               (pa_stream * s, pa_stream_success_cb_t cb, void *userdata),
               (s, cb, userdata))
PCMTAP_FORWARD(const pa_timing_info *, pa_stream_get_timing_info,
               (pa_stream * s), (s))
PCMTAP_FORWARD(int, pa_stream_disconnect, (pa_stream * s), (s))
PCMTAP_FORWARD(void, pa_stream_unref, (pa_stream * s), (s))
PCMTAP_FORWARD(size_t, pa_usec_to_bytes,
               (pa_usec_t t, const pa_sample_spec *format), (t, format))
PCMTAP_FORWARD(pa_usec_t, pa_bytes_to_usec,
               (uint64_t length, const pa_sample_spec *format),
               (length, format))
PCMTAP_FORWARD(const char *, pa_strerror, (int error), (error))
PCMTAP_FORWARD(pa_usec_t, pa_rtclock_now, (void), ())
