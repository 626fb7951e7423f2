/* filters.c - --where expressions into the library's predicates. */
#include "filters.h"

#include <stdlib.h>
#include <string.h>

#include "args.h"
#include "output.h"

void filters_init(Filters *filters) { memset(filters, 0, sizeof *filters); }

void filters_free(Filters *filters)
{
    for (size_t i = 0; i < filters->n_owned; i++)
        free(filters->owned[i]);
    free(filters->owned);
    free(filters->where);
    free(filters->expressions);
    filters_init(filters);
}

int filters_add(Filters *filters, const char *expression)
{
    const char **grown =
        realloc(filters->expressions, (filters->n_expressions + 1) * sizeof *grown);
    if (!grown)
        return fail_no_memory(), -1;
    grown[filters->n_expressions++] = expression;
    filters->expressions = grown;
    return 0;
}

typedef struct Operator {
    const char *text;
    int op;
} Operator;

/* Longer spellings first, so that ">=" is not read as ">". */
static const Operator operators[] = {
    {"==", ROWKIT_OP_EQ}, {"!=", ROWKIT_OP_NEQ}, {">=", ROWKIT_OP_GTE}, {"<=", ROWKIT_OP_LTE},
    {"=", ROWKIT_OP_EQ},  {">", ROWKIT_OP_GT},   {"<", ROWKIT_OP_LT},
};

static int is_blank(char c) { return c == ' ' || c == '\t'; }

/* The operator that starts at `p`, with its length; -1 when none does. The
 * word "in" counts only after a blank (or a quoted column) and before a
 * blank or the end. */
static int operator_at(const char *p, int after_break, size_t *length)
{
    for (size_t i = 0; i < sizeof operators / sizeof operators[0]; i++) {
        size_t n = strlen(operators[i].text);
        if (strncmp(p, operators[i].text, n) == 0) {
            *length = n;
            return operators[i].op;
        }
    }
    if (after_break && (p[0] == 'i' || p[0] == 'I') && (p[1] == 'n' || p[1] == 'N') &&
        (is_blank(p[2]) || p[2] == '\0')) {
        *length = 2;
        return ROWKIT_OP_IN_LIST;
    }
    return -1;
}

static int own(Filters *filters, void *block)
{
    void **grown = realloc(filters->owned, (filters->n_owned + 1) * sizeof *grown);
    if (!grown) {
        free(block);
        return fail_no_memory(), -1;
    }
    grown[filters->n_owned++] = block;
    filters->owned = grown;
    return 0;
}

/* Reads the column part of `expression`, leaving *p at the operator. */
static char *take_column(const char *expression, const char **p, int *quoted, int *op,
                         size_t *op_length)
{
    const char *q = expression;
    while (is_blank(*q))
        q++;
    *quoted = *q == '"';
    if (*quoted) {
        char *column = args_take_item("--where", &q, "");
        if (column)
            *op = operator_at(q, 1, op_length);
        *p = q;
        return column;
    }
    const char *start = q;
    for (*op = -1; *q; q++) {
        *op = operator_at(q, q > start && is_blank(q[-1]), op_length);
        if (*op >= 0)
            break;
    }
    size_t n = (size_t)(q - start);
    while (n > 0 && is_blank(start[n - 1]))
        n--;
    char *column = malloc(n + 1);
    if (!column) {
        fail_no_memory();
        return NULL;
    }
    memcpy(column, start, n);
    column[n] = '\0';
    *p = q;
    return column;
}

static int parse_expression(Filters *filters, const Input *input, const char *expression,
                            CPredicate *predicate)
{
    const char *p;
    int quoted, op;
    size_t op_length;
    char *column = take_column(expression, &p, &quoted, &op, &op_length);
    if (!column)
        return -1;
    int rc = 0;
    if (op < 0)
        rc = fail_usage("--where '%s': expected COLUMN OP VALUE with OP one of "
                        "= != > >= < <= in",
                        expression);
    else if (column[0] == '\0' && !quoted)
        rc = fail_usage("--where '%s': the column is missing", expression);
    else
        rc = input_column(input, column, &predicate->column);
    free(column);
    if (rc != 0)
        return -1;

    p += op_length;
    predicate->op = op;
    if (op == ROWKIT_OP_IN_LIST) {
        char **values;
        size_t n;
        if (p[strspn(p, " \t")] == '\0')
            return fail_usage("--where '%s': 'in' needs a list of values", expression), -1;
        if (args_split_list("--where", p, &values, &n) < 0)
            return -1;
        for (size_t i = 0; i < n; i++)
            if (own(filters, values[i]) < 0) {
                for (size_t j = i + 1; j < n; j++)
                    free(values[j]);
                free(values);
                return -1;
            }
        if (own(filters, values) < 0)
            return -1;
        predicate->values = (const char *const *)values;
        predicate->n_values = n;
        return 0;
    }
    const char *start = p + strspn(p, " \t");
    if (*start && strchr("=!<>", *start))
        return fail_usage("--where '%s': the value starts with '%c'; put it in double quotes "
                          "if that is meant",
                          expression, *start),
               -1;
    char *value = args_take_item("--where", &p, "");
    if (!value)
        return -1;
    if (*p != '\0') {
        free(value);
        return fail_usage("--where '%s': unexpected text after a closing quote", expression), -1;
    }
    if (own(filters, value) < 0)
        return -1;
    predicate->value = value;
    return 0;
}

int filters_resolve(Filters *filters, const Input *input)
{
    if (filters->n_expressions == 0)
        return 0;
    filters->where = calloc(filters->n_expressions, sizeof *filters->where);
    if (!filters->where)
        return fail_no_memory(), -1;
    for (size_t i = 0; i < filters->n_expressions; i++)
        if (parse_expression(filters, input, filters->expressions[i], &filters->where[i]) < 0)
            return -1;
    return 0;
}

COptions filters_options(const Filters *filters)
{
    COptions options = ROWKIT_OPTIONS_INIT;
    options.where = filters->where;
    options.n_where = filters->where ? filters->n_expressions : 0;
    options.negate = filters->negate;
    return options;
}

size_t filters_max_column(const Filters *filters, size_t column)
{
    if (filters->where)
        for (size_t i = 0; i < filters->n_expressions; i++)
            if (filters->where[i].column > column)
                column = filters->where[i].column;
    return column;
}
