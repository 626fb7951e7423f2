/* The public header compiles as strict C99 and the library links from C. */
#include <stdio.h>
#include <string.h>

#include "rowkit.h"

int main(void) {
    COptions options = ROWKIT_OPTIONS_INIT;
    CPredicate predicate;
    char version[64];
    memset(&predicate, 0, sizeof predicate);
    predicate.op = ROWKIT_OP_IN_LIST;
    options.where = &predicate;
    if (options.limit != -1 || options.max_column != -1 || options.columns || options.negate)
        return 1;
    snprintf(version, sizeof version, "%d.%d.%d", ROWKIT_VERSION_MAJOR, ROWKIT_VERSION_MINOR,
             ROWKIT_VERSION_PATCH);
    if (strcmp(rowkit_version(), version) != 0) return 1;
    if (strcmp(rowkit_build_mode(), "ReleaseFast") != 0) return 1;
    if (rowkit_open(NULL, &options) != NULL) return 1;
    if (strcmp(rowkit_last_error(), "path is null") != 0) return 1;
    rowkit_close(NULL);
    puts("header compiles as C99");
    return 0;
}
