/* main.c - rowkit: the librowkit command-line program. Finds the subcommand
 * and runs it; help and the version. */
#include <stdio.h>
#include <string.h>

#include "args.h"
#include "cli.h"
#include "output.h"
#include "rowkit.h"

const Command *cli_command;

static const Command *find_command(const char *name)
{
    for (unsigned i = 0; i < cli_n_commands; i++)
        if (strcmp(cli_commands[i].name, name) == 0)
            return &cli_commands[i];
    return NULL;
}

static int unknown_command(const char *name)
{
    return fail("unknown command \"%s\"; 'rowkit help' lists them", name);
}

static int help(int argc, char **argv)
{
    if (argc > 3)
        return fail("help takes at most one COMMAND");
    if (argc < 3 || strcmp(argv[2], "help") == 0 || strcmp(argv[2], "-h") == 0 ||
        strcmp(argv[2], "--help") == 0) {
        out_str(cli_usage);
        return out_finish(STATUS_OK);
    }
    const Command *command = find_command(argv[2]);
    if (!command)
        return unknown_command(argv[2]);
    out_str(command->usage);
    return out_finish(STATUS_OK);
}

int main(int argc, char **argv)
{
    out_init();
    if (argc < 2) {
        fputs(cli_usage, stderr);
        return STATUS_ERROR;
    }
    const char *name = argv[1];
    if (strcmp(name, "-h") == 0 || strcmp(name, "--help") == 0)
        return help(2, argv);
    if (strcmp(name, "help") == 0)
        return help(argc, argv);
    if (strcmp(name, "--version") == 0) {
        /* The library this program has loaded, which is the version that
         * matters: everything the program does is the library's. */
        out_str("rowkit ");
        out_str(rowkit_version());
        out_char('\n');
        return out_finish(STATUS_OK);
    }
    const Command *command = find_command(name);
    if (!command)
        return name[0] == '-' ? fail("unknown option %s; 'rowkit help' lists the commands", name)
                              : unknown_command(name);
    cli_command = command;
    if (args_want_help(argc - 1, argv + 1)) {
        out_str(command->usage);
        return out_finish(STATUS_OK);
    }
    return command->run(argc - 1, argv + 1);
}
