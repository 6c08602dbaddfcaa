/* C interface of the parser generated from grammar.y. */
#ifndef GRAMMARPARSER_H
#define GRAMMARPARSER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct ScriptParseSink {
    void *context;
    /* Called on a syntax error with every terminal the current state accepts, ascending. */
    void (*syntaxError)(void *context, const int *expected, int count);
};

void *ScriptParseAlloc(void *(*mallocProc)(size_t));
void ScriptParse(void *parser, int major, int minor, struct ScriptParseSink *sink);
void ScriptParseFree(void *parser, void (*freeProc)(void *));

#ifdef __cplusplus
}
#endif

#endif
