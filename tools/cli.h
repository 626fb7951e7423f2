/* cli.h - what every part of the rowkit program shares: exit statuses and the
 * table of subcommands. */
#ifndef ROWKIT_CLI_H
#define ROWKIT_CLI_H

/* Exit statuses: success, validation found invalid rows, any error (usage or
 * library). */
enum { STATUS_OK = 0, STATUS_INVALID = 1, STATUS_ERROR = 2 };

typedef struct Command {
    const char *name;
    const char *usage;   /* full help; its first line is the synopsis */
    int (*run)(int argc, char **argv); /* argv[0] is the command name */
} Command;

/* The command being run, for usage messages; NULL outside a command. */
extern const Command *cli_command;

int cmd_headers(int argc, char **argv);
int cmd_count(int argc, char **argv);
int cmd_select(int argc, char **argv);
int cmd_stats(int argc, char **argv);
int cmd_top(int argc, char **argv);
int cmd_sort(int argc, char **argv);
int cmd_scan(int argc, char **argv);
int cmd_validate(int argc, char **argv);

/* The subcommands, in the order help lists them, and the general help. */
extern const Command cli_commands[];
extern const unsigned cli_n_commands;
extern const char cli_usage[];

#endif
