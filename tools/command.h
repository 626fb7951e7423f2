/* command.h - what the subcommands share: reading their words into
 * positionals, FILTERS and their own options, opening the input and
 * resolving the filters against its header. */
#ifndef ROWKIT_CLI_COMMAND_H
#define ROWKIT_CLI_COMMAND_H

#include "args.h"
#include "filters.h"
#include "input.h"

/* Commands that filter rows list these first in their option table, so that
 * their own options start at OPT_FIRST_OWN. */
#define FILTER_OPTIONS {"where", 'w', 1}, {"not", 0, 0}
enum { OPT_WHERE = 0, OPT_NOT = 1, OPT_FIRST_OWN = 2 };

enum { MAX_POSITIONALS = 2 };

typedef struct CommandLine {
    Args args;
    int with_filters;
    const char *positionals[MAX_POSITIONALS];
    const char *const *positional_names; /* e.g. "FILE", "COLUMN" */
    size_t n_positionals;
    size_t n_required; /* the first n_required positionals must be given */
    Filters filters;
    Input input;
} CommandLine;

/* `names` lists the positionals the command takes, all required unless the
 * command lowers n_required afterwards. */
void command_begin(CommandLine *line, int argc, char **argv, const OptionSpec *specs,
                   size_t n_specs, int with_filters, const char *const *names,
                   size_t n_names);

/* The command's next own option with its value, ARGS_END once every word is
 * read and every positional given, or ARGS_ERROR after a usage error.
 * Positionals and FILTERS are taken care of here. */
int command_next(CommandLine *line, const char **value);

/* Opens the first positional as the input and resolves the filters; 0, or -1
 * after an error. `twice`: the command reads rows with options of its own
 * (filters count too), so the input is opened again (see input_open). */
int command_open(CommandLine *line, int twice);

/* Frees everything; returns out_finish(status). */
int command_end(CommandLine *line, int status);

#endif
