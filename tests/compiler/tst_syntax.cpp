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

    // The body rule is right-recursive: every body line stays on the 2000-entry stack until
    // "end". On exhaustion the parser restarts silently from its initial state, so the
    // statement after the one that overflowed fails as a top-level element.
    void longBodyExhaustsStack()
    {
        QByteArray script = "dim x\nprocedure p()\n";
        for (int i = 0; i < 2100; ++i)
            script += "x = 1\n";
        script += "end\n";
        int accepted = 0;
        const QVector<ReportedError> errors = checkLines(script, &accepted);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).detail, QByteArray("expecting constant, dim or procedure"));
        // Stack entries: the initial state, "dim" reduced to sourceElements, then 7 for the
        // procedure header; statement line k sits at entry k + 6 and needs 3 more (=, value,
        // EOL). Line 1991 therefore reaches entry 2000 and overflows; line 1992 fails.
        QCOMPARE(errors.at(0).line, 1992);
        // A body that fits is accepted.
        script = "procedure p()\n" + QByteArray(1900, '\n') + "end\n";
        QCOMPARE(checkLines(script, &accepted).size(), 0);
    }
};

NW_TEST(SyntaxTest)
#include "tst_syntax.moc"
