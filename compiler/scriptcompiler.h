// tollan, the script compiler: translates a script of the module's event-driven language (and
// the scripts it imports) into byte code for the module's script interpreter. One file per
// phase: driver (scriptcompiler.cpp, commandline.cpp), API reader (apidefinitions), lexer and
// token table, syntax checker over the Lemon grammar (grammar.y), statement translator
// (translator.cpp, expression.cpp), optimiser and layout (optimiser.cpp, layout.cpp), the
// encoder (encoder.cpp) and output writers (outputwriter.cpp). The API and symbol models live
// in namespace tollan.
#pragma once

#include "apidefinitions.h"
#include "instruction.h"
#include "layout.h"
#include "lexer.h"
#include "symbols.h"
#include "syntaxchecker.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class ScriptCompiler
{
public:
    ScriptCompiler();
    virtual ~ScriptCompiler();

    void setMemoryLimits(uint32_t bankSize, uint32_t endAddress);
    // Loads the API file and the optional constants file, creates the parser and emits the
    // class and event tables. Failure is printed; compilation can go on without the API.
    bool loadApiDefinitions(const QString &apiPath, const QString &constantsPath);
    // True when the API file was read but describes tables the byte code cannot address: the
    // run must stop, where an unreadable file only leaves the script without the API.
    bool apiRefused() const { return m_apiRefused; }
    void setPackMode(bool pack) { m_packMode = pack; }
    bool compileFile(const QString &path);
    bool compileLine(const QByteArray &text, int lineNumber);
    // Optimises, places and resolves the program. False when it cannot be made into sound byte
    // code (an unresolved target, a block that no bank can hold).
    bool finishProgram();
    bool writeOutput(const QString &outputPath, const QString &listingPath);
    bool writeVariableUsage(const QString &path) const;

    // The program as bytes, and the listing text, as writeOutput stores them.
    QByteArray programBytes() const;
    QByteArray listingText() const;

    const std::vector<Instruction> &program() const { return m_program; }
    const QStringList &compiledFiles() const { return m_compiledFiles; }
    const QVector<tollan::Symbol> &globals() const { return m_globals.symbols(); }

protected:
    virtual void reportError(const QByteArray &message, int line, const QByteArray &detail);

private:
    bool compileLine(const char *text, int size, int lineNumber);
    Instruction &newToken();

    // Statement translation (translator.cpp)
    bool translateLine();
    bool translateStatement();
    bool translateDim();
    bool translateConst();
    bool translateGlobals(const char *insideBody, bool (ScriptCompiler::*readRest)(tollan::Symbol &));
    bool readVariable(tollan::Symbol &s);
    bool readConstant(tollan::Symbol &s);
    bool translateEvent();
    bool translateProcedure();
    bool translateEnd();
    bool translateReturn();
    bool translateCall();
    bool translateArgument(int type);
    bool translateResults(const tollan::ApiMessage &response);
    bool translateAssignment();
    bool translateMemory(int32_t kind);
    bool translateCondition(int32_t kind);
    bool translateImport();
    bool declareGlobal(tollan::Symbol symbol);
    bool appendGlobal(const tollan::Symbol &symbol);
    bool declareParameter(tollan::Symbol symbol);
    bool checkCollision(const QByteArray &name);

    // Expressions, loads and stores (expression.cpp)
    enum class Parsed { Ok, Failed, Empty };
    Parsed parseExpression();
    Parsed dropOperators(size_t base, Parsed result);
    bool expression();
    Parsed parseOperand();
    bool parseFunction(int32_t kind);
    const tollan::Symbol *findNamed(bool *parenthesised);
    const tollan::Symbol *findNamed(bool *parenthesised, const tollan::Symbol *s);
    bool loadVariable();
    bool storeTarget(bool isResult);
    bool slice(const tollan::Symbol &symbol, bool constantData);
    bool bufferArgument(bool destination);
    const tollan::Symbol *lookupVariable(const QByteArray &name) const;

    // Token cursor over the line being translated
    const Instruction &peek(int ahead = 0) const;
    const Instruction &take();
    bool need(int32_t kind);
    bool fail(const QByteArray &message, const QByteArray &detail = QByteArray());
    Instruction &gen(int32_t kind, int32_t value = 0);
    Instruction &gen(int32_t kind, int32_t value, const QByteArray &text);
    Instruction &genCopy(const Instruction &token);

    // Program finishing (optimiser.cpp, layout.cpp)
    void numberLevels();
    void chainEvents();

    QString m_currentFile;
    QByteArray m_currentLine;
    tollan::ApiDefinitions m_api;
    Lexer m_lexer;
    std::unique_ptr<SyntaxChecker> m_parser;
    tollan::SymbolList m_globals;
    tollan::ProcedureTable m_procedures;
    tollan::Scope m_scope;
    bool m_export = false;
    std::vector<Instruction> m_program;
    QStringList m_compiledFiles;
    uint32_t m_bankSize = 0;
    uint32_t m_endAddress = 0;
    bool m_packMode = false;
    bool m_apiRefused = false;
    int m_importDepth = 0;
    int m_expressionDepth = 0;
    int32_t m_sequence = 0;

    bool m_lastTargetIsBuffer = false; // whether the last store went to a buffer
    std::vector<int32_t> m_operators;  // operator stack of the expressions being translated
    std::vector<Instruction> m_tokens; // the line being translated
    size_t m_pos = 0;
};
