/* A client of an installed librowkit: checks that the header it compiled
 * against and the library it loaded have the same version, then counts the
 * rows of the file named on the command line. Prints "VERSION ROWS". */
#include <rowkit.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    char compiled[64];
    COptions options = ROWKIT_OPTIONS_INIT;
    Ctx *ctx;
    int64_t rows;

    snprintf(compiled, sizeof compiled, "%d.%d.%d", ROWKIT_VERSION_MAJOR, ROWKIT_VERSION_MINOR,
             ROWKIT_VERSION_PATCH);
    if (strcmp(rowkit_version(), compiled) != 0) {
        fprintf(stderr, "header %s, library %s\n", compiled, rowkit_version());
        return 1;
    }
    if (argc != 2)
        return 2;
    ctx = rowkit_open(argv[1], &options);
    if (!ctx) {
        fprintf(stderr, "%s\n", rowkit_last_error());
        return 1;
    }
    rows = rowkit_count(ctx);
    rowkit_close(ctx);
    if (rows < 0) {
        fprintf(stderr, "%s\n", rowkit_last_error());
        return 1;
    }
    printf("%s %lld\n", compiled, (long long)rows);
    return 0;
}
