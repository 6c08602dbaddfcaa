#include "compilertest.h"
#include "testmain.h"

#include <QTest>

class SemanticsTest : public QObject
{
    Q_OBJECT
private slots:
    void messages_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("line");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("detail");
        QTest::newRow("scalar indexed")
            << QByteArray("dim x\nprocedure p()\nx(0) = 1\nend") << 3
            << QByteArray("expecting buffer or function") << QByteArray("x is not declared");
        QTest::newRow("buffer without index")
            << QByteArray("dim b(4)\nprocedure p()\nb = 1\nend") << 3 << QByteArray("expected buffer index")
            << QByteArray("b is a buffer");
        QTest::newRow("undefined") << QByteArray("procedure p()\ny = 1\nend") << 2
                                   << QByteArray("variable not defined")
                                   << QByteArray("y is not defined as variable");
        QTest::newRow("global collision")
            << QByteArray("dim x\nconst x = 1") << 2 << QByteArray("name collision")
            << QByteArray("\"x\" is already defined as global variable.");
        QTest::newRow("api constant collision")
            << QByteArray("dim SME_OK") << 1 << QByteArray("name collision")
            << QByteArray("\"SME_OK\" is already defined as global constant.");
        QTest::newRow("parameter collision")
            << QByteArray("dim a\nprocedure p(a)\nend") << 2 << QByteArray("name collision")
            << QByteArray("\"a\" is already defined as global variable.");
        QTest::newRow("buffer parameter last")
            << QByteArray("procedure p(b(), a)\nend") << 1 << QByteArray("expecting )") << QByteArray();
        QTest::newRow("assign parameter")
            << QByteArray("procedure p(a)\na = 1\nend") << 2 << QByteArray("assignment to parameter")
            << QByteArray("a is a constant read only parameter.");
        QTest::newRow("assign constant")
            << QByteArray("const k = 1\nprocedure p()\nk = 2\nend") << 3
            << QByteArray("assignment to constant") << QByteArray("k is a constant.");
        QTest::newRow("unknown event")
            << QByteArray("event sme_sideways()\nend") << 1 << QByteArray("Unknown event")
            << QByteArray("sme_sideways is not defined event");
        QTest::newRow("too few event parameters")
            << QByteArray("event sme_up(a, b)\nend") << 1 << QByteArray("expecting variable") << QByteArray();
        QTest::newRow("too many event parameters")
            << QByteArray("event sme_down(a)\nend") << 1 << QByteArray("expecting )") << QByteArray();
        QTest::newRow("unknown call")
            << QByteArray("procedure p()\ncall nothing()\nend") << 2
            << QByteArray("message or procedure not defined") << QByteArray("nothing is not defined");
        QTest::newRow("procedure results")
            << QByteArray("dim x\nprocedure q()\nend\nprocedure p()\ncall q()(x)\nend") << 5
            << QByteArray("response not defined") << QByteArray("q does not have any response defined");
        QTest::newRow("parameter as result")
            << QByteArray("procedure p(a)\ncall sme_set(1,2,3)(a)\nend") << 2
            << QByteArray("parameter variable are read only")
            << QByteArray("a is read only parameter variable and cannot be used as return value");
        QTest::newRow("memcpy scalar")
            << QByteArray("dim x, b(4)\nprocedure p()\nmemcpy(x(0), b(0), 1)\nend") << 3
            << QByteArray("expecting buffer") << QByteArray("x is not a buffer");
        QTest::newRow("memcpy size") << QByteArray("dim b(4)\nprocedure p()\nmemset(b(0:2), 0, 1)\nend") << 3
                                     << QByteArray("buffer size not allowed")
                                     << QByteArray("b does not need size of buffer to be defined");
        QTest::newRow("empty argument")
            << QByteArray("procedure q(a, b)\nend\nprocedure p()\ncall q(, 5)\nend") << 4
            << QByteArray("Using empty parameter expects next parameter to be variable or string")
            << QByteArray();
        QTest::newRow("negative buffer size")
            << QByteArray("dim b(-1)") << 1 << QByteArray("buffer size out of range")
            << QByteArray("b cannot have a size of -1");
        // 2 x (2^31 - 1) bytes end at 2^32 - 2: the third buffer would wrap.
        QTest::newRow("variable memory overflow")
            << QByteArray("dim a($7FFFFFFF), b($7FFFFFFF)\nconst k = 1\ndim c($7FFFFFFF)") << 3
            << QByteArray("variable memory overflow")
            << QByteArray("c does not fit in the 32-bit variable memory");
        QTest::newRow("scalar past the last address")
            << QByteArray("dim a($7FFFFFFF), b($7FFFFFFF), c(1)\ndim d") << 2
            << QByteArray("variable memory overflow")
            << QByteArray("d does not fit in the 32-bit variable memory");
        QTest::newRow("functions nested too deeply")
            << "dim x\nprocedure p()\nx = " + QByteArray("float(").repeated(1001) + "1" +
                   QByteArray(",1)").repeated(1001) + "\nend"
            << 3 << QByteArray("expression nested too deeply") << QByteArray();
        QTest::newRow("goto") << QByteArray("procedure p()\ngoto\nend") << 2 << QByteArray("syntax error")
                              << QByteArray();
        QTest::newRow("long string") << "dim b(4)\nprocedure p()\nb(:) = \"" + QByteArray(256, 'a') +
                                            "\"\nend"
                                     << 3 << QByteArray("string too long")
                                     << QByteArray("a string value holds at most 255 bytes");
        // Lines are read in chunks of 16 KiB: a longer line stays one line, and the lines after
        // it keep their numbers. Carriage returns of CRLF line ends are trimmed.
        QTest::newRow("line longer than a chunk")
            << "dim x\n# " + QByteArray(40000, 'a') + "\nprocedure p()\ny = 1\nend" << 4
            << QByteArray("variable not defined") << QByteArray("y is not defined as variable");
        QTest::newRow("line of exactly a chunk")
            << "dim x\n#" + QByteArray(16382, 'a') + "\nprocedure p()\ny = 1\nend" << 4
            << QByteArray("variable not defined") << QByteArray("y is not defined as variable");
        QTest::newRow("crlf line ends")
            << QByteArray("dim x\r\nprocedure p()\r\n\r\ny = 1\r\nend\r\n") << 4
            << QByteArray("variable not defined") << QByteArray("y is not defined as variable");
    }
    void messages()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, line);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, detail);
        QTemporaryDir dir;
        RecordingCompiler c;
        c.loadApiDefinitions(writeFile(dir, "api.xml", smallApi()), QString());
        QVERIFY(!c.compileFile(writeFile(dir, "main.s", script)));
        QCOMPARE(c.errors.size(), 1);
        QCOMPARE(c.errors.at(0).message, message);
        QCOMPARE(c.errors.at(0).detail, detail);
        QCOMPARE(c.errors.at(0).line, line);
    }

    void importVisibility()
    {
        QTemporaryDir dir;
        const QByteArray lib = dir.filePath("lib.s").toUtf8();
        writeFile(dir, "lib.s", "dim hidden\nexport dim shared\n");
        RecordingCompiler c;
        c.loadApiDefinitions(writeFile(dir, "api.xml", smallApi()), QString());
        // The file's own global may be declared again; the exported one is visible.
        QVERIFY(c.compileFile(writeFile(
            dir, "ok.s", "import \"" + lib + "\"\ndim hidden\nprocedure p()\nshared = hidden\nend\n")));
        QVERIFY(c.errors.isEmpty());

        RecordingCompiler twice;
        twice.loadApiDefinitions(writeFile(dir, "api.xml", smallApi()), QString());
        QVERIFY(!twice.compileFile(
            writeFile(dir, "twice.s", "import \"" + lib + "\"\nimport \"" + lib + "\"\n")));
        QCOMPARE(twice.errors.size(), 1);
        QCOMPARE(twice.errors.at(0).message, QByteArray("import failed"));
        QCOMPARE(twice.errors.at(0).detail, "Script file \"" + lib + "\" is already imported");
        QCOMPARE(twice.errors.at(0).line, 2);
    }
};

NW_TEST(SemanticsTest)
#include "tst_semantics.moc"
