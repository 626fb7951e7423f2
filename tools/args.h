/* args.h - command-line words into options, positionals and numbers.
 *
 * Options are given by a table. A long option is "--name VALUE" or
 * "--name=VALUE"; a short one "-k VALUE" or "-kVALUE". Options and
 * positionals mix in any order; "--" makes every later word a positional.
 * Every failure prints a usage error naming the problem. */
#ifndef ROWKIT_CLI_ARGS_H
#define ROWKIT_CLI_ARGS_H

#include <stddef.h>
#include <stdint.h>

typedef struct OptionSpec {
    const char *name; /* long name without the dashes */
    char letter;      /* short name, 0 for none */
    int takes_value;
} OptionSpec;

typedef struct Args {
    int argc;
    char **argv;
    int index;            /* next word */
    const char *pending;  /* rest of a "-kVALUE" word */
    int positionals_only; /* after "--" */
    const OptionSpec *specs;
    size_t n_specs;
} Args;

enum { ARGS_END = -1, ARGS_ERROR = -2, ARGS_POSITIONAL = -3 };

/* argv[0] (the command name) is skipped. */
void args_init(Args *args, int argc, char **argv, const OptionSpec *specs, size_t n_specs);

/* The index of the next option in the table with its value (NULL for one
 * without), ARGS_POSITIONAL with the word in *value, ARGS_END, or ARGS_ERROR
 * after a usage error. */
int args_next(Args *args, const char **value);

/* Non-zero when a word before any "--" asks for help (-h, --help). */
int args_want_help(int argc, char **argv);

/* Parses a whole non-negative decimal number not above `max` for `option`;
 * 0, or -1 after a usage error. */
int args_number(const char *option, const char *text, uint64_t max, uint64_t *out);

/* Reads one item from *text into a new string and moves *text past it.
 * Blanks before the item are dropped. An item in double quotes keeps its
 * blanks, commas and operators, a doubled quote inside standing for one;
 * *text is left after the closing quote and the blanks that follow it, and
 * the caller checks what comes next. An unquoted item ends before the first
 * byte in `stops` (or at the end), without its trailing blanks. Returns NULL
 * after a usage error naming `what` (or an allocation failure, reported). */
char *args_take_item(const char *what, const char **text, const char *stops);

/* Splits a comma-separated list of such items into *items (n strings, freed
 * with args_free_list); 0, or -1 after an error. */
int args_split_list(const char *what, const char *text, char ***items, size_t *n);
void args_free_list(char **items, size_t n);

#endif
