/*
 * stream_ready.c - preloaded into pcmtap by bench/run: notes the moment the
 * sound server accepted the record stream (the first time libpulse reports
 * it ready), as CLOCK_MONOTONIC seconds in the file $PCMTAP_READY_FILE, so
 * that the bench can time the first byte from there.
 *
 *   gcc -shared -fPIC -o stream_ready.so stream_ready.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pulse/stream.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

pa_stream_state_t pa_stream_get_state(const pa_stream *s) {
  static pa_stream_state_t (*real)(const pa_stream *);
  static int noted;
  if (!real)
    *(void **)&real = dlsym(RTLD_NEXT, "pa_stream_get_state");
  pa_stream_state_t state = real(s);
  if (state == PA_STREAM_READY && !noted) {
    struct timespec now;
    const char *path = getenv("PCMTAP_READY_FILE");
    FILE *f;
    noted = 1;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (path && (f = fopen(path, "w"))) {
      fprintf(f, "%lld.%09ld\n", (long long)now.tv_sec, now.tv_nsec);
      fclose(f);
    }
  }
  return state;
}
