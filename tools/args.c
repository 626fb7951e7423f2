/* args.c - command-line words into options, positionals, numbers and lists. */
#include "args.h"

#include <stdlib.h>
#include <string.h>

#include "output.h"

void args_init(Args *args, int argc, char **argv, const OptionSpec *specs, size_t n_specs)
{
    args->argc = argc;
    args->argv = argv;
    args->index = 1;
    args->pending = NULL;
    args->positionals_only = 0;
    args->specs = specs;
    args->n_specs = n_specs;
}

static int take_value(Args *args, const OptionSpec *option, const char *inline_value,
                      const char **value)
{
    if (!option->takes_value) {
        if (inline_value)
            return fail_usage("option --%s takes no value", option->name), ARGS_ERROR;
        *value = NULL;
        return 0;
    }
    if (inline_value) {
        *value = inline_value;
        return 0;
    }
    if (args->index >= args->argc) {
        if (option->letter)
            return fail_usage("option -%c (--%s) needs a value", option->letter, option->name),
                   ARGS_ERROR;
        return fail_usage("option --%s needs a value", option->name), ARGS_ERROR;
    }
    *value = args->argv[args->index++];
    return 0;
}

static int long_option(Args *args, const char *word, const char **value)
{
    const char *name = word + 2;
    const char *equals = strchr(name, '=');
    size_t length = equals ? (size_t)(equals - name) : strlen(name);
    for (size_t i = 0; i < args->n_specs; i++) {
        const OptionSpec *option = &args->specs[i];
        if (strlen(option->name) == length && memcmp(option->name, name, length) == 0) {
            if (take_value(args, option, equals ? equals + 1 : NULL, value) < 0)
                return ARGS_ERROR;
            return (int)i;
        }
    }
    return fail_usage("unknown option --%.*s", (int)length, name), ARGS_ERROR;
}

/* One letter of a short-option word; a value may follow in the same word. */
static int short_option(Args *args, const char **value)
{
    char letter = *args->pending++;
    for (size_t i = 0; i < args->n_specs; i++) {
        const OptionSpec *option = &args->specs[i];
        if (option->letter != letter)
            continue;
        const char *rest = *args->pending ? args->pending : NULL;
        if (option->takes_value || !rest)
            args->pending = NULL;
        if (option->takes_value) {
            if (take_value(args, option, rest, value) < 0)
                return ARGS_ERROR;
        } else {
            *value = NULL;
        }
        return (int)i;
    }
    return fail_usage("unknown option -%c", letter), ARGS_ERROR;
}

int args_next(Args *args, const char **value)
{
    if (args->pending)
        return short_option(args, value);
    if (args->index >= args->argc)
        return ARGS_END;
    const char *word = args->argv[args->index++];
    if (args->positionals_only || word[0] != '-' || word[1] == '\0') {
        *value = word;
        return ARGS_POSITIONAL;
    }
    if (strcmp(word, "--") == 0) {
        args->positionals_only = 1;
        return args_next(args, value);
    }
    if (word[1] == '-')
        return long_option(args, word, value);
    args->pending = word + 1;
    return short_option(args, value);
}

int args_want_help(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--") == 0)
            return 0;
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0)
            return 1;
    }
    return 0;
}

int args_number(const char *option, const char *text, uint64_t max, uint64_t *out)
{
    uint64_t value = 0;
    const char *p = text;
    if (*p == '\0')
        goto bad;
    for (; *p; p++) {
        if (*p < '0' || *p > '9')
            goto bad;
        unsigned digit = (unsigned)(*p - '0');
        if (digit > max || value > (max - digit) / 10)
            return fail_usage("%s must be at most %llu, got \"%s\"", option,
                              (unsigned long long)max, text),
                   -1;
        value = value * 10 + digit;
    }
    *out = value;
    return 0;
bad:
    return fail_usage("%s expects a whole number, got \"%s\"", option, text), -1;
}

static int is_blank(char c) { return c == ' ' || c == '\t'; }

char *args_take_item(const char *what, const char **text, const char *stops)
{
    const char *p = *text;
    while (is_blank(*p))
        p++;
    char *item = malloc(strlen(p) + 1);
    if (!item) {
        fail_no_memory();
        return NULL;
    }
    size_t n = 0;
    if (*p == '"') {
        for (p++;; p++) {
            if (*p == '\0') {
                free(item);
                fail_usage("%s: a quote is not closed", what);
                return NULL;
            }
            if (*p == '"') {
                if (p[1] != '"')
                    break;
                p++;
            }
            item[n++] = *p;
        }
        for (p++; is_blank(*p); p++) {
        }
    } else {
        const char *end = p + strcspn(p, stops);
        n = (size_t)(end - p);
        while (n > 0 && is_blank(p[n - 1]))
            n--;
        memcpy(item, p, n);
        p = end;
    }
    item[n] = '\0';
    *text = p;
    return item;
}

void args_free_list(char **items, size_t n)
{
    for (size_t i = 0; i < n; i++)
        free(items[i]);
    free(items);
}

int args_split_list(const char *what, const char *text, char ***items, size_t *n)
{
    size_t capacity = 1;
    for (const char *p = text; *p; p++)
        capacity += *p == ',';
    char **list = malloc(capacity * sizeof *list);
    if (!list)
        return fail_no_memory(), -1;
    size_t count = 0;
    for (;;) {
        char *item = args_take_item(what, &text, ",");
        if (!item) {
            args_free_list(list, count);
            return -1;
        }
        list[count++] = item;
        if (*text == '\0')
            break;
        if (*text != ',') {
            args_free_list(list, count);
            return fail_usage("%s: unexpected text after a closing quote", what), -1;
        }
        text++;
    }
    *items = list;
    *n = count;
    return 0;
}
