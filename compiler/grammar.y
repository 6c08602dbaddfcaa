// The script language's syntax. The parser built from this file is only a checker: it has no
// actions and builds no tree. Each token is fed as the lexer reads it; translation happens
// afterwards, line by line, in the translator.
//
// Terminal numbers matter: the token table refers to them and the "expecting" lists are
// reported in ascending terminal order. Lemon numbers terminals by first appearance, so the
// precedence declarations come first and the rules keep their order.

%name ScriptParse
%token_prefix TK_
%token_type {int}
%extra_argument {struct ScriptParseSink *sink}
// The stack grows as needed: the body rule is right-recursive, so a body keeps every one of
// its statements on the stack until its "end", and a fixed stack would reject long bodies and
// deep nesting that are fine.
%stack_size 0

%include {
#include <assert.h>
#include "grammarparser.h"
}

%syntax_error {
    /* Report every terminal the current state would have accepted, in ascending order. */
    int expected[YYNTOKEN];
    int count = 0;
    int token;
    (void)yymajor;
    (void)yyminor;
    for (token = 0; token < YYNTOKEN; ++token) {
        YYACTIONTYPE action = yy_find_shift_action((YYCODETYPE)token, yypParser->yytos->stateno);
        if (action <= YY_MAX_SHIFTREDUCE || (action >= YY_MIN_REDUCE && action <= YY_MAX_REDUCE))
            expected[count++] = token;
    }
    if (sink && sink->syntaxError)
        sink->syntaxError(sink->context, expected, count);
}

%left LOGICAL_OR.
%left LOGICAL_AND.
%left OR.
%left XOR.
%left AND.
%left EQ NE.
%left GT GTE LTE LT.
%left SHIFT_LEFT SHIFT_RIGHT.
%left SUM SUB.
%left DIV MUL.

program ::= sourceElements.

sourceElements ::= sourceElement.
sourceElements ::= sourceElements sourceElement.

sourceElement ::= EOL.
sourceElement ::= exports CONSTANT const_declarations EOL.
sourceElement ::= exports DIM declarations EOL.
sourceElement ::= EVENT IDENTIFIER LEFT_P declarations RIGHT_P EOL commands END.
sourceElement ::= exports PROCEDURE IDENTIFIER LEFT_P declarations RIGHT_P EOL commands END.
sourceElement ::= IMPORT ISTRING.

// Lemon reports three conflicts, all of this one kind: where an argument list may begin (after
// "call name(", after the result list's "(", and after a comma) and ")" follows, the parser can
// read either an empty list or one empty argument. Both readings accept exactly the same lines
// and the grammar has no actions, so the choice Lemon makes (the empty argument) changes
// nothing; the translator gives empty arguments their meaning.
command ::= CALL IDENTIFIER LEFT_P parameters RIGHT_P EOL.
command ::= CALL IDENTIFIER LEFT_P parameters RIGHT_P LEFT_P parameters RIGHT_P EOL.
command ::= EOL.
command ::= MEMCPY LEFT_P expr COMMA expr COMMA expr RIGHT_P.
command ::= MEMSET LEFT_P expr COMMA expr COMMA expr RIGHT_P.
command ::= variable EQ expr EOL.
command ::= WHILE expr EOL commands END WHILE.
command ::= IF expr THEN commands END IF.
command ::= IF expr THEN commands ELSE commands END IF.
command ::= IF expr EOL commands END IF.
command ::= IF expr EOL commands ELSE commands END IF.

// Right-recursive: a body's statements stay on the parser's stack until its "end".
commands ::= .
commands ::= command commands.

variable ::= IDENTIFIER.
variable ::= IDENTIFIER LEFT_P expr RIGHT_P.
variable ::= IDENTIFIER LEFT_P expr COLON expr RIGHT_P.
variable ::= IDENTIFIER LEFT_P COLON expr RIGHT_P.
variable ::= IDENTIFIER LEFT_P COLON RIGHT_P.
// A dotted address as four INTEGER tokens. Never reached from source: the lexer reads a dotted
// number as one INTEGER. It stays because DOT and the terminal numbering depend on it.
variable ::= INTEGER DOT INTEGER DOT INTEGER DOT INTEGER.

const_declaration ::= IDENTIFIER EQ INTEGER.
const_declaration ::= IDENTIFIER LEFT_P RIGHT_P EQ ISTRING.
const_declarations ::= const_declaration.
const_declarations ::= const_declaration COMMA const_declarations.

exports ::= .
exports ::= EXPORT.

declaration ::= .
declaration ::= IDENTIFIER.
declaration ::= IDENTIFIER LEFT_P INTEGER RIGHT_P.
declaration ::= IDENTIFIER LEFT_P RIGHT_P.
declarations ::= declaration COMMA declarations.
declarations ::= declaration.

parameters ::= .
parameters ::= parameter.
parameters ::= parameter COMMA parameters.
parameter ::= expr.
parameter ::= .

func ::= FLOAT LEFT_P expr COMMA expr RIGHT_P.
func ::= SFLOAT LEFT_P expr COMMA expr RIGHT_P.
func ::= MEMCMP LEFT_P expr COMMA expr COMMA expr RIGHT_P.

expr ::= LEFT_P expr RIGHT_P.
expr ::= expr SUB expr.
expr ::= expr SUM expr.
expr ::= expr MUL expr.
expr ::= expr DIV expr.
expr ::= expr LOGICAL_OR expr.
expr ::= expr LOGICAL_AND expr.
expr ::= expr XOR expr.
expr ::= expr OR expr.
expr ::= expr AND expr.
expr ::= expr EQ expr.
expr ::= expr NE expr.
expr ::= expr GT expr.
expr ::= expr GTE expr.
expr ::= expr LTE expr.
expr ::= expr LT expr.
expr ::= expr SHIFT_LEFT expr.
expr ::= expr SHIFT_RIGHT expr.
expr ::= INTEGER.
expr ::= variable.
expr ::= func.
expr ::= ISTRING.
