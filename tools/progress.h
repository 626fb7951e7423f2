/* progress.h - one line of progress on standard error for long reads.
 *
 * Shown only when standard error is a terminal, the input is a file of more
 * than 64 MiB and the command was not asked to be quiet: percent of the
 * input's bytes read, MB/s and the time elapsed, redrawn at most ten times a
 * second and erased at the end (and before any diagnostic). */
#ifndef ROWKIT_CLI_PROGRESS_H
#define ROWKIT_CLI_PROGRESS_H

#include <stdint.h>

/* Starts the display for the input at `path` unless `quiet`. */
void progress_start(const char *path, int quiet);
/* Non-zero while a display is running: callers may skip asking for the
 * bytes read otherwise. */
int progress_active(void);
/* `done` bytes of the input have been read; redraws when it is time. */
void progress_update(uint64_t done);
/* Erases the line (it is drawn again by the next update). */
void progress_clear(void);
/* Erases the line and stops the display. */
void progress_end(void);

/* Around one library call that reads the whole input (validate, the
 * parallel scan): starts the display under the conditions above and has the
 * library report to it; progress_call_end removes the report and erases the
 * line. */
void progress_call_start(const char *path, int quiet);
void progress_call_end(void);

#endif
