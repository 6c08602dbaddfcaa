#include "compilertest.h"
#include "testmain.h"

#include <QTest>

// Lines fed through lexer and parser only (an empty API: no translation reaches a name).
static QVector<ReportedError> checkLines(const QByteArray &script, int *linesAccepted)
{
    RecordingCompiler c;
    const QList<QByteArray> lines = script.split('\n');
    *linesAccepted = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (!c.compileLine(lines.at(i).trimmed() + '\n', i + 1)) break;
        ++*linesAccepted;
    }
    return c.errors;
}

class SyntaxTest : public QObject
{
    Q_OBJECT
private slots:
    void errors_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("line");
        QTest::addColumn<QByteArray>("detail");
        QTest::newRow("statement at top level")
            << QByteArray("x = 1") << 1 << QByteArray("expecting constant, dim or procedure");
        QTest::newRow("end without if")
            << QByteArray("procedure p()\nif 1 then\nend\n") << 3 << QByteArray("expecting if");
        QTest::newRow("two identifiers")
            << QByteArray("procedure p()\nfoo bar") << 2 << QByteArray("expecting =");
        QTest::newRow("empty right side")
            << QByteArray("procedure p()\nx =") << 2 << QByteArray("expecting variable, ( or value");
        QTest::newRow("goto at top level")
            << QByteArray("\n\ngoto x") << 3 << QByteArray("expecting constant, dim or procedure");
        QTest::newRow("scan failure")
            << QByteArray("procedure p()\nx = 1 == 2") << 2 << QByteArray("Unable to parse ==");
        QTest::newRow("range failure")
            << QByteArray("procedure p()\nx = 4294967296") << 2 << QByteArray("Unable to parse 4294967296");
    }
    void errors()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, line);
        QFETCH(QByteArray, detail);
        int accepted = 0;
        const QVector<ReportedError> errors = checkLines(script, &accepted);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).message, QByteArray("syntax error"));
        QCOMPARE(errors.at(0).line, line);
        QCOMPARE(errors.at(0).detail, detail);
        QCOMPARE(accepted, line - 1);
    }

    void accepted_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("precedence") << QByteArray("dim a\nprocedure p()\na = 1 + 2 * 3\na = 1 << 2 + 1\nend");
        QTest::newRow("empty event parameters") << QByteArray("event e()\nend");
        QTest::newRow("empty if body") << QByteArray("dim x\nprocedure p()\nif x then\nend if\nend");
        QTest::newRow("return alone is an empty line") << QByteArray("procedure p()\nreturn\nend");
        QTest::newRow("slices and calls")
            << QByteArray("dim b(8)\nprocedure p()\nb(1:2) = b(:3) + b(:)\ncall q(,b(0),)(b(0))\nend");
        QTest::newRow("while and else")
            << QByteArray("dim x\nprocedure p()\nwhile x < 3\nif x then\nelse\nend if\nend while\nend");
    }
    void accepted()
    {
        QFETCH(QByteArray, script);
        int accepted = 0;
        RecordingCompiler c;
        const QList<QByteArray> lines = script.split('\n');
        // Only the syntax is under test: translation errors about unknown names are allowed.
        for (int i = 0; i < lines.size(); ++i) {
            c.compileLine(lines.at(i) + '\n', i + 1);
            for (const ReportedError &e : c.errors)
                QVERIFY2(!e.detail.startsWith("expecting"), e.detail.constData());
            ++accepted;
        }
        QCOMPARE(accepted, lines.size());
    }

    // The body rule is right-recursive: every body line stays on the parser's stack until
    // "end", and nesting adds to it. The stack grows, so none of these fails at a line that is
    // fine; a statement outside any body still fails at once.
    void longBodyExhaustsStack_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("errorLine");
        QByteArray longBody = "dim x\nprocedure p()\n";
        for (int i = 0; i < 2100; ++i)
            longBody += "x = 1\n";
        QTest::newRow("2100-line body") << longBody + "end\n" << 0;
        QTest::newRow("2100-line body, then a stray statement") << longBody + "end\nx = 1\n" << 2104;
        QTest::newRow("3000 nested ifs")
            << "dim x\nprocedure p()\n" + QByteArray("if x then\n").repeated(3000) +
                   QByteArray("end if\n").repeated(3000) + "end\n"
            << 0;
        QTest::newRow("50000 parentheses") << "dim x\nprocedure p()\nx = " + QByteArray(50000, '(') + '1' +
                                                  QByteArray(50000, ')') + "\nend\n"
                                           << 0;
        // The lexer reads a number of any length without recursion.
        QTest::newRow("100000 dotted groups at top level")
            << "x = 1" + QByteArray(".1").repeated(100000) << 1;
    }
    void longBodyExhaustsStack()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, errorLine);
        int accepted = 0;
        const QVector<ReportedError> errors = checkLines(script, &accepted);
        if (errorLine == 0) {
            QCOMPARE(errors.size(), 0);
            return;
        }
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).detail, QByteArray("expecting constant, dim or procedure"));
        QCOMPARE(errors.at(0).line, errorLine);
    }
};

NW_TEST(SyntaxTest)
#include "tst_syntax.moc"
