/* command.c - the shared shape of a subcommand. */
#include "command.h"

#include <string.h>

#include "cli.h"
#include "output.h"
#include "progress.h"

void command_begin(CommandLine *line, int argc, char **argv, const OptionSpec *specs,
                   size_t n_specs, int with_filters, const char *const *names,
                   size_t n_names)
{
    memset(line, 0, sizeof *line);
    line->input.spool = -1; /* no descriptor yet: input_close must not close 0 */
    args_init(&line->args, argc, argv, specs, n_specs);
    line->with_filters = with_filters;
    line->positional_names = names;
    line->n_positionals = n_names;
    line->n_required = n_names;
    filters_init(&line->filters);
}

int command_next(CommandLine *line, const char **value)
{
    for (;;) {
        int id = args_next(&line->args, value);
        if (id == ARGS_ERROR)
            return ARGS_ERROR;
        if (id == ARGS_END) {
            for (size_t i = 0; i < line->n_required; i++)
                if (!line->positionals[i])
                    return fail_usage("missing %s", line->positional_names[i]), ARGS_ERROR;
            return ARGS_END;
        }
        if (id == ARGS_POSITIONAL) {
            size_t i = 0;
            while (i < line->n_positionals && line->positionals[i])
                i++;
            if (i == line->n_positionals)
                return fail_usage("unexpected argument \"%s\"", *value), ARGS_ERROR;
            line->positionals[i] = *value;
            continue;
        }
        if (line->with_filters && id == OPT_NOT) {
            line->filters.negate = 1;
            continue;
        }
        if (line->with_filters && id == OPT_WHERE) {
            if (filters_add(&line->filters, *value) < 0)
                return ARGS_ERROR;
            continue;
        }
        return id;
    }
}

int command_open(CommandLine *line, int twice)
{
    twice = twice || line->filters.n_expressions > 0 || line->filters.negate;
    if (input_open(&line->input, line->positionals[0], twice) < 0)
        return -1;
    return filters_resolve(&line->filters, &line->input);
}

int command_end(CommandLine *line, int status)
{
    progress_end();
    filters_free(&line->filters);
    input_close(&line->input);
    return out_finish(status);
}
