/* The public header compiles as strict C99 and the library links from C. */
#include "rowkit.h"

#include <stdio.h>
#include <string.h>

int main(void) {
    COptions options;
    CPredicate predicate;
    memset(&options, 0, sizeof options);
    memset(&predicate, 0, sizeof predicate);
    predicate.op = ROWKIT_OP_IN_LIST;
    options.where = &predicate;
    options.limit = -1;
    options.max_column = -1;
    if (strcmp(rowkit_build_mode(), "ReleaseFast") != 0) return 1;
    if (rowkit_open(NULL, &options) != NULL) return 1;
    if (strcmp(rowkit_last_error(), "path is null") != 0) return 1;
    rowkit_close(NULL);
    puts("header compiles as C99");
    return 0;
}
