#include "compilertest.h"
#include "encoder.h"
#include "testmain.h"

#include <QTest>

// Expected bytes are written by hand from the instruction encodings. Every program against the
// small API starts with its 8-byte header: class table "sme" -> 4, "util" -> 0xFFFF, then the
// event entries of sme_up and sme_down (0xFFFF when the script has no handler).
static const QByteArray kHeader = "0400ffffffffffff";

struct Compiled {
    bool ok = false;
    QByteArray hex;
    uint32_t end = 0; // the final address: where the last instruction's bytes end
    QVector<ReportedError> errors;
};

static Compiled compileScript(const QByteArray &script, bool pack = false, uint32_t bank = 0,
                              uint32_t end = 0, const QByteArray &api = smallApi())
{
    QTemporaryDir dir;
    RecordingCompiler c;
    c.setMemoryLimits(bank, end);
    c.loadApiDefinitions(writeFile(dir, "api.xml", api), QString());
    c.setPackMode(pack);
    Compiled r;
    r.ok = c.compileFile(writeFile(dir, "main.s", script)) && c.finishProgram();
    r.hex = c.programBytes().toHex();
    if (!c.program().empty()) r.end = c.program().back().address + instructionSize(c.program().back());
    r.errors = c.errors;
    return r;
}

class CodegenTest : public QObject
{
    Q_OBJECT
private slots:
    void bytes_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("pack");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray p = "dim x\nprocedure p()\n";
        // 14 folded into one short push, then ID x (address 0), STACK_TO_VARIABLE, RETURN, END.
        QTest::newRow("folding") << p + "x = 2 + 3 * 4\nend" << false << kHeader + "360e36000e5117";
        QTest::newRow("long constant") << p + "x = 300\nend" << false << kHeader + "1b2c01000036000e5117";
        QTest::newRow("short constant") << p + "x = 200\nend" << false << kHeader + "36c836000e5117";
        QTest::newRow("negative is long") << p + "x = -1\nend" << false << kHeader + "1bffffffff36000e5117";
        QTest::newRow("division by zero") << p + "x = 5 / 0\nend" << false << kHeader + "360036000e5117";
        QTest::newRow("logical shift right")
            << p + "x = -16 >> 28\nend" << false << kHeader + "360f36000e5117";
        QTest::newRow("comparison") << p + "x = 3 < 2 || 1 != 1\nend" << false << kHeader + "360036000e5117";
        // uint8, uint8, uint16 constants: two 8BIT merge into a 16BIT, two 16BIT into a 32BIT.
        QTest::newRow("narrow and merge")
            << p + "call sme_set(1, 2, 3)\nend" << false << kHeader + "151b01020300" + "1603" + "2f" + "5117";
        QTest::newRow("uint32 then uint16") << p + "call sme_word(7, 5)\nend" << false
                                            << kHeader + "15" + "3607" + "010500" + "1604" + "2f" + "5117";
        QTest::newRow("pack mode") << p + "call sme_word(7, 5)\nend" << true
                                   << kHeader + "15" + "36075202" + "0105005201" + "1604" + "2f" + "5117";
        QTest::newRow("if 0") << p + "if 0 then\nx = 1\nend if\nend" << false << kHeader + "5117";
        QTest::newRow("if 1 keeps then-part")
            << p + "if 1 then\nx = 1\nelse\nx = 2\nend if\nend" << false << kHeader + "360136000e" + "5117";
        QTest::newRow("if 0 keeps else-part")
            << p + "if 0 then\nx = 1\nelse\nx = 2\nend if\nend" << false << kHeader + "360236000e" + "5117";
        // IF at 0x0b jumps past the ELSE (0x13) to 0x16; the ELSE jumps to the end-if at 0x1b.
        QTest::newRow("if else targets")
            << p + "if x then\nx = 1\nelse\nx = 2\nend if\nend" << false
            << kHeader + "36000c" + "0b1600" + "360136000e" + "141b00" + "360236000e" + "5117";
        // BEGINWHILE at 8; WHILE (0x0e) jumps after the ENDWHILE (0x1a) to 0x1d, ENDWHILE back to 8.
        QTest::newRow("while") << p + "while x < 3\nx = x + 1\nend while\nend" << false
                               << kHeader + "36000c" + "3603" + "0a" + "0b1d00" + "36000c" + "3601" + "02" +
                                      "36000e" + "140800" + "5117";
        QTest::newRow("string constant padded")
            << QByteArray("const s() = \"hi\"") << false << kHeader + "686900" + "00" + "17";
        QTest::newRow("istring padded") << QByteArray("dim b(8)\nprocedure p()\nb(0:2) = \"a\"\nend") << false
                                        << kHeader + "180461000000" + "3600" + "3602" + "0f" + "5117";
        // Buffer slice: address 0 + index 2 folds to 2; length 4 for "(i)".
        QTest::newRow("slice load") << QByteArray("dim x, b(8)\nprocedure p()\nx = b(2)\nend") << false
                                    << kHeader + "3606" + "3604" + "0d" + "3600" + "0e" + "5117";
        // Procedure call: int32 argument, GOSUB to the label at 8.
        QTest::newRow("gosub") << QByteArray("procedure p(a)\nend\nprocedure q()\ncall p(9)\nend") << false
                               << kHeader + "51" + "15" + "3609" + "500800" + "2f" + "51" + "17";
        // Frame parameters: int8 with sign extension; the uint8array data at offset 2.
        QTest::newRow("event frame") << QByteArray(
                                            "dim x\nevent sme_up(l, n, d)\nx = l\nmemcpy(d(1), d(0), n)\nend")
                                     << false
                                     << QByteArray("0400ffff0800ffff") + "3600" + "1e01" + "3600" + "0e" +
                                            "1b03000080" + "1b02000080" + "3601" + "1c01" + "34" + "17" +
                                            "17";
        // Results: result (uint16) and data_len into scalars, data straight from the frame.
        QTest::newRow("results and direct copy")
            << QByteArray("dim r, n, d(8)\nprocedure p()\ncall sme_set(1, 2, 3)(r, n, d(:))\nend") << false
            << kHeader + "151b01020300" + "1603" + "360036021d36000e" + "360236011d36040e" +
                   "360336040c360836082"
                   "0" +
                   "2f" + "5117";
        // Empty argument: the length of the next argument.
        QTest::newRow("empty argument")
            << QByteArray("dim b(6)\nprocedure p(n, buf())\nend\nprocedure q()\ncall p(,b(:))\nend") << false
            << kHeader + "51" + "15" + "3606" + "3600" + "3606" + "0d" + "500800" + "2f" + "51" + "17";
    }
    void bytes()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, pack);
        QFETCH(QByteArray, expected);
        const Compiled c = compileScript(script, pack);
        for (const ReportedError &e : c.errors)
            qWarning() << e.message << e.line << e.detail;
        QVERIFY(c.ok);
        QCOMPARE(c.hex, expected);
        // The encoder writes exactly the bytes the addresses were laid out for.
        QCOMPARE(uint32_t(c.hex.size() / 2), c.end);
    }

    // Line ends: "\r\n" reads as "\n", a carriage return inside a line stays (and is refused),
    // and a line far longer than any read block or a last line without "\n" reads whole.
    void lineEnds()
    {
        const QByteArray comment = "# " + QByteArray(200000, 'c');
        const QByteArray lf = "dim x\nprocedure p()\nx = 300 " + comment + "\nend";
        QByteArray crlf = lf;
        crlf.replace("\n", "\r\n");
        const Compiled a = compileScript(lf);
        const Compiled b = compileScript(crlf + "\r\n");
        QVERIFY(a.ok);
        QVERIFY(b.ok);
        // The procedure: push 300 (4-byte form), the address 0, store; RETURN; the final END.
        QCOMPARE(a.hex, kHeader + "1b2c010000" + "3600" + "0e" + "51" + "17");
        QCOMPARE(b.hex, a.hex);

        const Compiled c = compileScript("dim x\r\nprocedure p()\r\nx =\r1\r\nend\r\n");
        QVERIFY(!c.ok);
        QCOMPARE(c.errors.size(), 1);
        QCOMPARE(c.errors.at(0).line, 3);
        QCOMPARE(c.errors.at(0).detail, QByteArray("Unable to parse \r"));
    }

    // Two classes with one event each, both script id 0, no handler: 4 + 4 bytes and the END.
    void minimalProgram()
    {
        const QByteArray api = "<api><class name=\"a\"><event name=\"e\" script=\"0\"/></class>"
                               "<class name=\"b\"><event name=\"f\" script=\"0\"/></class></api>";
        const Compiled c = compileScript("event a_e()\nend\n", false, 0, 0, api);
        QVERIFY(c.ok);
        QCOMPARE(c.hex, QByteArray("04000600ffffffff17"));
    }

    // Handlers of one event in an imported file and the main file run in source order.
    void eventChainingAcrossImport()
    {
        QTemporaryDir dir;
        writeFile(dir, "b.s", "event sme_down()\nx = 1\nend\n");
        const QString main = writeFile(dir, "main.s",
                                       "export dim x\nimport \"" + dir.filePath("b.s").toUtf8() +
                                           "\"\nevent sme_down()\nx = 2\nend\n");
        RecordingCompiler c;
        c.loadApiDefinitions(writeFile(dir, "api.xml", smallApi()), QString());
        QVERIFY(c.compileFile(main));
        QVERIFY(c.finishProgram());
        QCOMPARE(c.programBytes().toHex(), QByteArray("0400ffffffff0800"
                                                      "360136000e141000"
                                                      "360236000e17"
                                                      "17"));
    }

    // Bank 16, end 64: the last block (q and the final END, 10 bytes) fits at 54..63; p (9
    // bytes) would span 45..53, so 7 bytes of padding follow it; the header block likewise.
    void bankPadding()
    {
        const Compiled c =
            compileScript("dim x\nprocedure p()\nx = 300\nend\nprocedure q()\nx = 300\nend", false, 16, 64);
        QVERIFY(c.ok);
        const QByteArray block = "1b2c01000036000e51";
        const QByteArray pad = QByteArray(7, char(0xFF)).toHex();
        QCOMPARE(c.hex, kHeader + pad + block + pad + block + "17");
        // A block longer than a bank can never be placed.
        const Compiled big = compileScript("dim x\nprocedure p()\nx = 300\nx = 300\nend", false, 8, 64);
        QVERIFY(!big.ok);
    }

    // Each padding takes its number when the walk creates it, after every other instruction
    // (the final END being the last of those): the walk runs from the end of the program, so
    // the padding at the higher address comes first.
    void paddingNumberedByWalk()
    {
        QTemporaryDir dir;
        RecordingCompiler c;
        c.setMemoryLimits(16, 64);
        c.loadApiDefinitions(writeFile(dir, "api.xml", smallApi()), QString());
        QVERIFY(c.compileFile(
            writeFile(dir, "main.s", "dim x\nprocedure p()\nx = 300\nend\nprocedure q()\nx = 300\nend")));
        QVERIFY(c.finishProgram());
        QVector<int> padding;
        int finalEnd = -1;
        for (const QByteArray &line : c.listingText().split('\n')) {
            const int number = line.left(line.indexOf('\t')).toInt();
            if (line.contains(" PADDING (52):")) padding.append(number);
            if (line.contains(" END (17):")) finalEnd = number;
        }
        QCOMPARE(padding, (QVector<int>{finalEnd + 2, finalEnd + 1}));
    }

    void listingAndReport()
    {
        QTemporaryDir dir;
        RecordingCompiler c;
        c.setMemoryLimits(0, 0x10000);
        c.loadApiDefinitions(writeFile(dir, "api.xml", smallApi()), QString());
        // 8 bytes of header and 280 of string data put the final END at 0x120.
        QVERIFY(c.compileFile(
            writeFile(dir, "main.s",
                      "dim first, buf(10), last\nconst s() = \"" + QByteArray(280, 'a') + "\"\ndim z\n")));
        QVERIFY(c.finishProgram());
        const QList<QByteArray> lines = c.listingText().split('\n');
        QCOMPARE(lines.at(0), QByteArray("0\tfee0             CLS (1e): 4  0 "));
        QVERIFY(c.writeVariableUsage(dir.filePath("usage.txt")));
        QFile f(dir.filePath("usage.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> report = f.readAll().split('\n');
        // Five API constants of size 0 come first; a string constant counts its length.
        QCOMPARE(report.at(0), QByteArray("302"));
        QCOMPARE(report.at(1), QByteArray("0:0\tSME_BAD"));
        QCOMPARE(report.at(6), QByteArray("0:4\tfirst"));
        QCOMPARE(report.at(7), QByteArray("4:10\tbuf"));
        QCOMPARE(report.at(8), QByteArray("14:4\tlast"));
        QCOMPARE(report.at(9), QByteArray("18:280\ts"));
        QCOMPARE(report.at(10), QByteArray("298:4\tz"));
    }
};

NW_TEST(CodegenTest)
#include "tst_codegen.moc"
