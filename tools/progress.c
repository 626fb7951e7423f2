/* progress.c - the progress line on standard error. */
#include "progress.h"

#include <pthread.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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
    last_draw = start;
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

static pthread_t waiter;
static pthread_mutex_t wait_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t wait_done = PTHREAD_COND_INITIALIZER;
static int waiting, stop_waiting;
static const char *wait_doing;

static void *redraw_while_waiting(void *unused)
{
    (void)unused;
    pthread_mutex_lock(&wait_lock);
    while (!stop_waiting) {
        struct timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += 100 * 1000 * 1000;
        if (until.tv_nsec >= 1000 * 1000 * 1000) {
            until.tv_sec++;
            until.tv_nsec -= 1000 * 1000 * 1000;
        }
        pthread_cond_timedwait(&wait_done, &wait_lock, &until);
        if (stop_waiting)
            break;
        unsigned seconds = (unsigned)(now() - start);
        fprintf(stderr, "\r\033[Krowkit: %s %.1f MB  %u:%02u", wait_doing, (double)total / 1e6,
                seconds / 60, seconds % 60);
        fflush(stderr);
        drawn = 1;
    }
    pthread_mutex_unlock(&wait_lock);
    return NULL;
}

void progress_wait_start(const char *path, int quiet, const char *doing)
{
    progress_start(path, quiet);
    if (!active)
        return;
    wait_doing = doing;
    stop_waiting = 0;
    waiting = pthread_create(&waiter, NULL, redraw_while_waiting, NULL) == 0;
}

void progress_wait_end(void)
{
    if (waiting) {
        pthread_mutex_lock(&wait_lock);
        stop_waiting = 1;
        pthread_cond_signal(&wait_done);
        pthread_mutex_unlock(&wait_lock);
        pthread_join(waiter, NULL);
        waiting = 0;
    }
    progress_end();
}
