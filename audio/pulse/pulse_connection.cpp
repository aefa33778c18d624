#include "pulse_connection.h"

#include <pulse/rtclock.h>

#include <cerrno>
#include <cstring>
#include <map>

namespace pcmtap {
namespace {

// A server that took the connection but does not answer is as good as
// gone; this only keeps pcmtap from waiting for it forever.
const unsigned kRequestTimeoutMillis = 5000;

// A flag that a timer of the loop sets once the time is up.
class Deadline {
public:
  Deadline(pa_mainloop *mainloop, pa_context *context, unsigned millis)
      : api_(pa_mainloop_get_api(mainloop)),
        event_(pa_context_rttime_new(
            context, pa_rtclock_now() + pa_usec_t{millis} * PA_USEC_PER_MSEC,
            on_time, &passed_)) {}
  ~Deadline() {
    if (event_)
      api_->time_free(event_);
  }
  Deadline(const Deadline &) = delete;
  Deadline &operator=(const Deadline &) = delete;
  bool passed() const { return passed_; }

private:
  static void on_time(pa_mainloop_api *, pa_time_event *, const timeval *,
                      void *passed) {
    *static_cast<bool *>(passed) = true;
  }

  pa_mainloop_api *api_;
  bool passed_ = false;
  pa_time_event *event_;
};

void take_success(pa_context *, int success, void *result) {
  *static_cast<int *>(result) = success ? 1 : 0;
}

void read_source(const pa_source_info *info, SourceState *out) {
  SourceState &state = *out;
  state.name = info->name;
  state.description = info->description ? info->description : info->name;
  state.device = state.description;
  state.card = info->card;
  state.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
  state.muted = info->mute != 0;
  state.ports.clear();
  for (uint32_t i = 0; i < info->n_ports; ++i) {
    const pa_source_port_info *port = info->ports[i];
    uint32_t type = 0;
#if PA_CHECK_VERSION(14, 0, 0)
    type = port->type;
#endif
    state.ports.push_back({port->name,
                           port->description ? port->description : port->name,
                           type, port->available == PA_PORT_AVAILABLE_NO});
  }
  state.active_port = info->active_port ? info->active_port->name : "";
}

struct SourceQuery {
  SourceState *state;
  bool found = false;
  bool done = false;
};

void take_source(pa_context *, const pa_source_info *info, int eol,
                 void *query_ptr) {
  auto *query = static_cast<SourceQuery *>(query_ptr);
  if (eol != 0) {
    query->done = true;
    return;
  }
  query->found = true;
  read_source(info, query->state);
}

struct SourceList {
  std::vector<SourceState> *sources;
  bool done = false;
};

void take_listed_source(pa_context *, const pa_source_info *info, int eol,
                        void *list_ptr) {
  auto *list = static_cast<SourceList *>(list_ptr);
  if (eol != 0) {
    list->done = true;
    return;
  }
  list->sources->emplace_back();
  read_source(info, &list->sources->back());
}

struct CardList {
  std::map<uint32_t, std::string> descriptions;
  bool done = false;
};

void take_card(pa_context *, const pa_card_info *info, int eol,
               void *list_ptr) {
  auto *list = static_cast<CardList *>(list_ptr);
  if (eol != 0) {
    list->done = true;
    return;
  }
  const char *description =
      pa_proplist_gets(info->proplist, PA_PROP_DEVICE_DESCRIPTION);
  if (description && *description)
    list->descriptions[info->index] = description;
}

struct SinkQuery {
  bool found = false;
  bool done = false;
  std::string description;
  std::string monitor;
};

void take_sink(pa_context *, const pa_sink_info *info, int eol,
               void *query_ptr) {
  auto *query = static_cast<SinkQuery *>(query_ptr);
  if (eol != 0) {
    query->done = true;
    return;
  }
  query->found = true;
  query->description = info->description ? info->description : info->name;
  query->monitor = info->monitor_source_name ? info->monitor_source_name : "";
}

// application.name and application.process.binary from `props`, where
// they are set; `fallback` names a program without a name.
ProgramKey program_of(const pa_proplist *props, const ProgramKey &fallback) {
  const char *name = pa_proplist_gets(props, PA_PROP_APPLICATION_NAME);
  const char *binary =
      pa_proplist_gets(props, PA_PROP_APPLICATION_PROCESS_BINARY);
  return {name && *name ? name : fallback.name,
          binary && *binary ? binary : fallback.binary};
}

struct ProgramList {
  std::vector<PlayingStream> *streams;
  std::map<uint32_t, ProgramKey> clients = {};
  bool streams_done = false;
  bool clients_done = false;
};

void take_client(pa_context *, const pa_client_info *info, int eol,
                 void *list_ptr) {
  auto *list = static_cast<ProgramList *>(list_ptr);
  if (eol != 0) {
    list->clients_done = true;
    return;
  }
  list->clients[info->index] =
      program_of(info->proplist, {info->name ? info->name : "", ""});
}

// A stream's own properties first (the server gives it its client's too),
// then its client's.
void take_sink_input(pa_context *, const pa_sink_input_info *info, int eol,
                     void *list_ptr) {
  auto *list = static_cast<ProgramList *>(list_ptr);
  if (eol != 0) {
    list->streams_done = true;
    return;
  }
  ProgramKey fallback{info->name ? info->name : "", ""};
  auto client = list->clients.find(info->client);
  if (client != list->clients.end())
    fallback = client->second;
  list->streams->push_back({info->index, info->sink, info->client,
                            program_of(info->proplist, fallback)});
}

struct MonitorQuery {
  std::string monitor;
  bool done = false;
};

void take_sink_monitor(pa_context *, const pa_sink_info *info, int eol,
                       void *query_ptr) {
  auto *query = static_cast<MonitorQuery *>(query_ptr);
  if (eol != 0) {
    query->done = true;
    return;
  }
  query->monitor = info->monitor_source_name ? info->monitor_source_name : "";
}

} // namespace

const char *pulse_error_text(int err) {
  if (err <= -kPulseErrorBase)
    return pa_strerror(-err - kPulseErrorBase);
  return std::strerror(-err);
}

int PulseConnection::open(const std::string &server, unsigned timeout_ms,
                          std::unique_ptr<PulseConnection> *out) {
  pa_mainloop *mainloop = pa_mainloop_new();
  if (!mainloop)
    return -ENOMEM;
  pa_context *context = pa_context_new(pa_mainloop_get_api(mainloop), "pcmtap");
  if (!context) {
    pa_mainloop_free(mainloop);
    return -ENOMEM;
  }
  std::unique_ptr<PulseConnection> connection(
      new PulseConnection(mainloop, context));
  if (pa_context_connect(context, server.empty() ? nullptr : server.c_str(),
                         PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    return pulse_error(pa_context_errno(context));
  Deadline deadline(mainloop, context, timeout_ms);
  for (;;) {
    pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY)
      break;
    if (!PA_CONTEXT_IS_GOOD(state))
      return connection->error(pulse_error(PA_ERR_CONNECTIONREFUSED));
    if (deadline.passed())
      return pulse_error(PA_ERR_TIMEOUT);
    if (pa_mainloop_iterate(mainloop, 1, nullptr) < 0)
      return -EIO;
  }
  *out = std::move(connection);
  return 0;
}

PulseConnection::PulseConnection(pa_mainloop *mainloop, pa_context *context)
    : mainloop_(mainloop), context_(context) {}

PulseConnection::~PulseConnection() {
  unwatch_stop();
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  pa_mainloop_free(mainloop_);
}

void PulseConnection::watch_stop(int fd) {
  if (fd == stop_fd_)
    return;
  unwatch_stop();
  pa_mainloop_api *api = pa_mainloop_get_api(mainloop_);
  // The loop only has to wake; whoever waits looks at the stop itself.
  stop_event_ = api->io_new(
      api, fd, PA_IO_EVENT_INPUT,
      [](pa_mainloop_api *, pa_io_event *, int, pa_io_event_flags_t, void *) {},
      nullptr);
  stop_fd_ = fd;
}

void PulseConnection::unwatch_stop() {
  if (stop_event_)
    pa_mainloop_get_api(mainloop_)->io_free(stop_event_);
  stop_event_ = nullptr;
  stop_fd_ = -1;
}

int PulseConnection::error(int fallback) const {
  int err = pa_context_errno(context_);
  return err != PA_OK ? pulse_error(err) : fallback;
}

bool PulseConnection::run_until(const std::function<bool()> &done) {
  Deadline deadline(mainloop_, context_, kRequestTimeoutMillis);
  while (!done()) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
        deadline.passed() || pa_mainloop_iterate(mainloop_, 1, nullptr) < 0)
      return false;
  }
  return true;
}

bool PulseConnection::finish(pa_operation *op) {
  if (!op)
    return false;
  bool ended = run_until(
      [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
  if (!ended)
    pa_operation_cancel(op);
  pa_operation_unref(op);
  return ended;
}

int PulseConnection::source_state(const std::string &name, SourceState *out) {
  SourceQuery query{out};
  pa_operation *op = pa_context_get_source_info_by_name(context_, name.c_str(),
                                                        take_source, &query);
  if (!finish(op) || !query.done)
    return error(-EIO);
  return query.found ? 0 : -ENODEV;
}

bool PulseConnection::has_default_sink() {
  std::string description, monitor;
  return default_sink(&description, &monitor);
}

bool PulseConnection::default_sink(std::string *description,
                                   std::string *monitor) {
  SinkQuery query;
  pa_operation *op = pa_context_get_sink_info_by_name(
      context_, "@DEFAULT_SINK@", take_sink, &query);
  if (!finish(op) || !query.found)
    return false;
  *description = query.description;
  *monitor = query.monitor;
  return true;
}

int PulseConnection::sources(std::vector<SourceState> *out) {
  out->clear();
  SourceList list{out};
  if (!finish(pa_context_get_source_info_list(context_, take_listed_source,
                                              &list)) ||
      !list.done)
    return error(-EIO);
  // A card's sources are called by the card's name, as the sound settings
  // do ("Built-in Audio"), not by the profile's ("... Analog Stereo").
  CardList cards;
  if (!finish(pa_context_get_card_info_list(context_, take_card, &cards)) ||
      !cards.done)
    return error(-EIO);
  for (SourceState &source : *out) {
    auto card = cards.descriptions.find(source.card);
    if (card != cards.descriptions.end())
      source.device = card->second;
  }
  return 0;
}

int PulseConnection::programs(std::vector<PlayingStream> *streams,
                              std::vector<ClientProgram> *clients) {
  streams->clear();
  clients->clear();
  ProgramList list{streams};
  // The clients first, for the streams that do not name their program.
  if (!finish(pa_context_get_client_info_list(context_, take_client, &list)) ||
      !list.clients_done ||
      !finish(pa_context_get_sink_input_info_list(context_, take_sink_input,
                                                  &list)) ||
      !list.streams_done)
    return error(-EIO);
  for (const auto &client : list.clients)
    clients->push_back({client.first, client.second});
  return 0;
}

std::string PulseConnection::sink_monitor(uint32_t index) {
  MonitorQuery query;
  finish(pa_context_get_sink_info_by_index(context_, index, take_sink_monitor,
                                           &query));
  return query.monitor;
}

bool PulseConnection::set_source_port(const std::string &source,
                                      const std::string &port) {
  int result = 0;
  pa_operation *op = pa_context_set_source_port_by_name(
      context_, source.c_str(), port.c_str(), take_success, &result);
  return finish(op) && result == 1;
}

bool PulseConnection::set_source_mute(const std::string &source, bool muted) {
  int result = 0;
  pa_operation *op = pa_context_set_source_mute_by_name(
      context_, source.c_str(), muted, take_success, &result);
  return finish(op) && result == 1;
}

} // namespace pcmtap
