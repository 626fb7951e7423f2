/* progress.c - the progress line on standard error. */
#include "progress.h"

#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "rowkit.h"

enum { MIN_SIZE = 64 << 20 };
static const double REDRAW_SECONDS = 0.1;

static int active;
static int drawn;      /* a line is on the screen */
static uint64_t total; /* the input's size */
static double start, last_draw;

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

void progress_start(const char *path, int quiet)
{
    struct stat st;
    active = 0;
    if (quiet || !isatty(STDERR_FILENO) || stat(path, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size <= MIN_SIZE)
        return;
    active = 1;
    drawn = 0;
    total = (uint64_t)st.st_size;
    start = now();
    last_draw = start - REDRAW_SECONDS; /* the first update draws at once */
}

int progress_active(void) { return active; }

void progress_update(uint64_t done)
{
    if (!active)
        return;
    double t = now();
    if (t - last_draw < REDRAW_SECONDS)
        return;
    last_draw = t;
    double elapsed = t - start;
    unsigned percent = (unsigned)(done >= total ? 100 : done * 100 / total);
    unsigned seconds = (unsigned)elapsed;
    fprintf(stderr, "\r\033[Krowkit: %3u%%  %.1f MB/s  %u:%02u", percent,
            elapsed > 0 ? (double)done / 1e6 / elapsed : 0.0, seconds / 60, seconds % 60);
    fflush(stderr);
    drawn = 1;
}

void progress_clear(void)
{
    if (drawn) {
        fputs("\r\033[K", stderr);
        fflush(stderr);
        drawn = 0;
    }
}

void progress_end(void)
{
    progress_clear();
    active = 0;
}

static void on_library_progress(void *user, uint64_t done, uint64_t total)
{
    (void)user;
    (void)total; /* the size progress_start found */
    progress_update(done);
}

void progress_call_start(const char *path, int quiet)
{
    progress_start(path, quiet);
    if (active)
        rowkit_set_progress(on_library_progress, NULL);
}

void progress_call_end(void)
{
    rowkit_set_progress(NULL, NULL);
    progress_end();
}
