/* filters.h - FILTERS: --where 'EXPR' (repeatable, all must hold) and --not.
 *
 * EXPR is "COLUMN OP VALUE" with OP one of = (or ==), !=, >, >=, <, <=, or
 * "COLUMN in V1,V2,...". COLUMN is a header name or #N; blanks around the
 * column and the values are dropped, and a column or value in double quotes
 * keeps them (a doubled quote inside stands for one; in a list a quoted
 * value may hold commas). An unquoted value may not start with =, !, < or >,
 * which catches mistyped operators such as "=>". The comparison itself is the library's: numbers
 * when both sides are numbers, bytes otherwise. */
#ifndef ROWKIT_CLI_FILTERS_H
#define ROWKIT_CLI_FILTERS_H

#include <stddef.h>

#include "input.h"
#include "rowkit.h"

typedef struct Filters {
    const char **expressions; /* the --where texts, as given */
    size_t n_expressions;
    int negate;
    CPredicate *where; /* one per expression once resolved */
    void **owned;      /* the value texts and lists the predicates point to */
    size_t n_owned;
} Filters;

void filters_init(Filters *filters);
void filters_free(Filters *filters);

/* Adds one --where text (kept as given, parsed by filters_resolve); 0, or -1
 * after an error. */
int filters_add(Filters *filters, const char *expression);

/* Parses the expressions against the header; 0, or -1 after a usage error. */
int filters_resolve(Filters *filters, const Input *input);

/* Options for rowkit_open with these predicates and negation, no
 * projection, no limit, every column. */
COptions filters_options(const Filters *filters);

/* The larger of `column` and the highest column a predicate reads. */
size_t filters_max_column(const Filters *filters, size_t column);

#endif
