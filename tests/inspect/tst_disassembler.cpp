// The disassembly against the compiler's own listing, instruction by instruction, for the compiler's
// test scripts and the example; and byte code no compiler writes, which must still come out whole.
#include "disassembler.h"
#include "inspectfixtures.h"
#include "scriptapi.h"
#include "smallapi.h"
#include "testmain.h"

#include <QRegularExpression>
#include <QtTest>

using namespace fixtures;

namespace
{

// Event script ids with gaps, counted over all classes: the tables get filler entries.
const char gapsApi[] =
    R"(<api><class name="g"><event name="a" script="0"/><event name="c" script="3"/></class>
<class name="n"/><class name="h"><event name="d" script="1"/></class></api>)";

struct Unit {
    quint32 address;
    QString mnemonic;
    QByteArray bytes;
};

// The compiler's mnemonics for what one encoding can stand for, as the byte code alone shows it.
QString canonical(const QString &m)
{
    static const QHash<QString, QString> same = {{"ID", "32BIT"},
                                                 {"CONSTANT_ADDRESS", "32BIT"},
                                                 {"WHILE", "IF"},
                                                 {"ELSE", "GOTO"},
                                                 {"ENDWHILE", "GOTO"},
                                                 {"RETURN_END", "END"},
                                                 {"CONSTANT_MEMORY", "DATA"},
                                                 {"PADDING", "DATA"}};
    return same.value(m, m);
}

// Adjacent data runs are one unit on both sides: the compiler's constants and padding, our data lines.
void append(QVector<Unit> &units, const Unit &u)
{
    if (u.mnemonic == QLatin1String("DATA") && !units.isEmpty() &&
        units.last().mnemonic == QLatin1String("DATA") &&
        units.last().address + quint32(units.last().bytes.size()) == u.address)
        units.last().bytes += u.bytes;
    else
        units.append(u);
}

// debug.txt: sequence, tab, address, mnemonic right-aligned in 16, " (kind):", the bytes.
QVector<Unit> listingUnits(const QByteArray &listing, quint32 &base)
{
    static const QRegularExpression line(
        QStringLiteral("^(\\d+)\\t([0-9a-f]+)(.*) \\(([ 0-9a-f]{2})\\):((?:[ 0-9a-f]{2} )*)$"));
    QVector<Unit> units;
    bool first = true;
    for (const QByteArray &raw : listing.split('\n')) {
        if (raw.isEmpty()) continue;
        const QRegularExpressionMatch m = line.match(QString::fromLatin1(raw));
        if (!m.hasMatch()) {
            qWarning() << "unreadable listing line" << raw;
            return {};
        }
        const quint32 address = m.captured(2).toUInt(nullptr, 16);
        if (first) base = address;
        first = false;
        // Each byte is two characters, unpadded values space-filled ("  4 "), and a space.
        QByteArray bytes;
        const QString field = m.captured(5);
        for (int i = 0; i + 2 < field.size() + 1; i += 3)
            bytes.append(char(field.mid(i, 2).trimmed().toUInt(nullptr, 16)));
        if (bytes.isEmpty()) continue;
        append(units, {address - base, canonical(m.captured(3).trimmed()), bytes});
    }
    return units;
}

QVector<Unit> ourUnits(const Disassembly &d)
{
    QVector<Unit> units;
    for (const DisLine &l : d.lines)
        append(units, {l.address, l.mnemonic, l.bytes});
    return units;
}

// Every byte of the code exactly once, in order.
bool coversWhole(const Disassembly &d, int size)
{
    quint32 at = 0;
    for (const DisLine &l : d.lines) {
        if (l.address != at || l.bytes.isEmpty()) return false;
        at += quint32(l.bytes.size());
    }
    return at == quint32(size);
}

} // namespace

class TestDisassembler : public QObject
{
    Q_OBJECT

private slots:
    void equalsCompilerListing_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("apiName");
        QTest::addColumn<QStringList>("options");
        const QByteArray p = "dim x\nprocedure p()\n";
        const QStringList none;
        // The compiler's code-generation cases.
        QTest::newRow("folding") << p + "x = 2 + 3 * 4\nend"
                                 << "small" << none;
        QTest::newRow("long constant") << p + "x = 300\nend"
                                       << "small" << none;
        QTest::newRow("negative") << p + "x = -1\nend"
                                  << "small" << none;
        QTest::newRow("narrow and merge") << p + "call sme_set(1, 2, 3)\nend"
                                          << "small" << none;
        QTest::newRow("uint32 then uint16") << p + "call sme_word(7, 5)\nend"
                                            << "small" << none;
        QTest::newRow("pack mode") << p + "call sme_word(7, 5)\nend"
                                   << "small" << QStringList{"xap_pack"};
        QTest::newRow("if 0") << p + "if 0 then\nx = 1\nend if\nend"
                              << "small" << none;
        QTest::newRow("if else") << p + "if x then\nx = 1\nelse\nx = 2\nend if\nend"
                                 << "small" << none;
        QTest::newRow("while") << p + "while x < 3\nx = x + 1\nend while\nend"
                               << "small" << none;
        QTest::newRow("string constant") << QByteArray("const s() = \"hi\"") << "small" << none;
        QTest::newRow("istring") << QByteArray("dim b(8)\nprocedure p()\nb(0:2) = \"a\"\nend") << "small"
                                 << none;
        QTest::newRow("slice load") << QByteArray("dim x, b(8)\nprocedure p()\nx = b(2)\nend") << "small"
                                    << none;
        QTest::newRow("gosub") << QByteArray("procedure p(a)\nend\nprocedure q()\ncall p(9)\nend") << "small"
                               << none;
        QTest::newRow("event frame") << QByteArray(
                                            "dim x\nevent sme_up(l, n, d)\nx = l\nmemcpy(d(1), d(0), n)\nend")
                                     << "small" << none;
        QTest::newRow("results and direct copy")
            << QByteArray("dim r, n, d(8)\nprocedure p()\ncall sme_set(1, 2, 3)(r, n, d(:))\nend") << "small"
            << none;
        QTest::newRow("empty argument")
            << QByteArray("dim b(6)\nprocedure p(n, buf())\nend\nprocedure q()\ncall p(,b(:))\nend")
            << "small" << none;
        // Further shapes: nested loops and conditions, string constants used and unused, the
        // remaining operators, and handlers that fall through into each other's neighbours.
        QTest::newRow("nesting")
            << QByteArray("dim x, y\nevent sme_down()\nwhile x < 10\nif x & 1 then\ny = y + x\nelse\n"
                          "while y > 0\ny = y - 1\nend while\nend if\nx = x + 1\nend while\nend")
            << "small" << none;
        QTest::newRow("operators")
            << QByteArray(
                   "dim x, y, b(4), c(4)\nevent sme_down()\nx = (y << 3) | (y >> 1) ^ y / 3 != 2 && y <= 4 "
                   "|| y >= 5\nx = float(y, 2) + sfloat(3, y)\nmemset(b(0), 0, 4)\nx = memcmp(b(0), c(0), "
                   "4)\n"
                   "return\nend")
            << "small" << none;
        QTest::newRow("constants used")
            << QByteArray(
                   "const a() = \"first\"\ndim b(8)\nconst c() = \"2nd\"\nevent sme_down()\nb(0:5) = a(:)\n"
                   "b(0:3) = c(0:3)\nend")
            << "small" << none;
        QTest::newRow("event table gaps")
            << QByteArray("dim x\nevent g_c()\nx = 1\nend\nevent h_d()\nx = 2\nend") << "gaps" << none;
        QTest::newRow("example") << readFile(QStringLiteral(NW_SOURCE_DIR "/sdk/example/example.script"))
                                 << "sdk" << none;
        QTest::newRow("example in banks")
            << readFile(QStringLiteral(NW_SOURCE_DIR "/sdk/example/example.script")) << "sdk"
            << QStringList{"-s", "160", "-e", "0x10000"};
    }

    void equalsCompilerListing()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, apiName);
        QFETCH(QStringList, options);
        QTemporaryDir dir;
        const bool sdkApi = apiName == "sdk";
        const QByteArray apiXml = apiName == "gaps" ? QByteArray(gapsApi) : smallApi();
        const QString api = sdkApi ? QStringLiteral(NW_SDK_DIR "/api/wifiapi.xml") : dir.filePath("api.xml");
        QVERIFY(sdkApi || writeFile(api, apiXml));
        QVERIFY(writeFile(dir.filePath("main.s"), script));
        QVERIFY(writeFile(dir.filePath("constants"), QByteArray()));
        QStringList args{"main.s", "out.bin", api, "constants", "debug"};
        // Pack mode goes with the flag word instead of "debug"; the listing then needs -d.
        if (options.value(0) == QLatin1String("xap_pack")) {
            args[4] = options.takeFirst();
            args << "-d";
        }
        const Run r = run(QStringLiteral(NW_TOLLAN), args + options, dir.path());
        QVERIFY2(r.status == 0, r.out + r.err);
        const QByteArray code = readFile(dir.filePath("out.bin"));
        quint32 base = 0;
        const QVector<Unit> expected = listingUnits(readFile(dir.filePath("debug.txt")), base);
        QVERIFY(!expected.isEmpty());

        ScriptApi definition;
        QVERIFY(sdkApi ? definition.load(api) : definition.loadXml(apiXml));
        const Disassembly d = disassemble(code, &definition);
        QVERIFY(d.tables.named);
        QVERIFY2(d.problems.isEmpty(), qPrintable(d.problems.join('\n')));
        QVERIFY(coversWhole(d, code.size()));
        const QVector<Unit> got = ourUnits(d);
        for (int i = 0; i < qMin(got.size(), expected.size()); ++i) {
            const Unit &g = got[i], &e = expected[i];
            QVERIFY2(g.address == e.address && g.mnemonic == e.mnemonic && g.bytes == e.bytes,
                     qPrintable(QStringLiteral("unit %1: ours %2 %3 %4, listing %5 %6 %7")
                                    .arg(i)
                                    .arg(g.address, 0, 16)
                                    .arg(g.mnemonic, QString::fromLatin1(g.bytes.toHex()))
                                    .arg(e.address, 0, 16)
                                    .arg(e.mnemonic, QString::fromLatin1(e.bytes.toHex()))));
        }
        QCOMPARE(got.size(), expected.size());
    }

    // Names come from the API: the example's calls and handlers, by name.
    void namesFromTheApi()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("main.s"),
                          readFile(QStringLiteral(NW_SOURCE_DIR "/sdk/example/example.script"))));
        const Run r = run(QStringLiteral(NW_TOLLAN),
                          {"main.s", "out.bin", QStringLiteral(NW_SDK_DIR "/api/wifiapi.xml")}, dir.path());
        QCOMPARE(r.status, 0);
        ScriptApi definition;
        QVERIFY(definition.load(QStringLiteral(NW_SDK_DIR "/api/wifiapi.xml")));
        const Disassembly d = disassemble(readFile(dir.filePath("out.bin")), &definition);
        QCOMPARE(d.tables.handledEvents(), (QStringList{"system_boot", "hardware_soft_timer"}));
        const QString text = d.text().join('\n');
        for (const char *call :
             {"MSG CALL endpoint_send", "MSG CALL sme_wifi_on", "MSG CALL hardware_set_soft_timer"})
            QVERIFY2(text.contains(QLatin1String(call)), call);
        QVERIFY(text.contains(QLatin1String("\nsystem_boot:\n")));
        // The banner is data, and the code that pushes it names it.
        QVERIFY(text.contains(QLatin1String("DATA \"NW300 example up\"")));
        QVERIFY(
            text.contains(QRegularExpression(QStringLiteral("CONSTANT_TO_STACK_BUFFER const_[0-9a-f]{4}"))));

        // Frame buffers that memcpy names carry bit 31; they show as such.
        QTemporaryDir small;
        QVERIFY(writeFile(small.filePath("api.xml"), smallApi()));
        QVERIFY(
            writeFile(small.filePath("main.s"), "dim x\nevent sme_up(l, n, d)\nmemcpy(d(1), d(0), n)\nend"));
        QCOMPARE(run(QStringLiteral(NW_TOLLAN), {"main.s", "out.bin", "api.xml"}, small.path()).status, 0);
        ScriptApi smallDefinition;
        QVERIFY(smallDefinition.loadXml(smallApi()));
        const QString frame =
            disassemble(readFile(small.filePath("out.bin")), &smallDefinition).text().join('\n');
        QVERIFY2(frame.contains("32BIT 0x80000003 (frame buffer 3)"), qPrintable(frame));
    }

    // Byte code no compiler writes: every byte still shown once, faults named, and no endless walk.
    void hostileCode_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("dataAt"); // an address that must show as data, or empty
        // Tables of the small API with sme_up's handler at 8.
        const QByteArray t = QByteArray::fromHex("0400ffff0800ffff");
        QTest::newRow("unknown opcode") << t + QByteArray::fromHex("ff17") << "no instruction"
                                        << "0008";
        QTest::newRow("jump into an instruction") << t + QByteArray::fromHex("1b01020304"
                                                                             "140900")
                                                  << "inside the instruction"
                                                  << "";
        // Nothing runs after a GOTO: the byte behind it is data, not a fault in the walked code.
        QTest::newRow("jump to itself") << t + QByteArray::fromHex("140800ff") << ""
                                        << "000b";
        QTest::newRow("two handlers jumping at each other")
            << QByteArray::fromHex("0400ffff08000b00") + QByteArray::fromHex("140b00"
                                                                             "140800")
            << ""
            << "";
        QTest::newRow("jump outside") << t + QByteArray::fromHex("0bff7f17") << "outside the code"
                                      << "";
        QTest::newRow("string past the end") << t + QByteArray::fromHex("18ff61") << "no instruction"
                                             << "0008";
        QTest::newRow("long push cut short") << t + QByteArray::fromHex("1b01") << "no instruction"
                                             << "0008";
        QTest::newRow("handler outside") << QByteArray::fromHex("0400ffff9000ffff17") << "outside the code"
                                         << "";
        QTest::newRow("tables only") << t << "outside the code"
                                     << "";
        QTest::newRow("shorter than the tables") << QByteArray::fromHex("0400ff") << "do not match"
                                                 << "";
    }

    void hostileCode()
    {
        QFETCH(QByteArray, code);
        QFETCH(QString, problem);
        QFETCH(QString, dataAt);
        ScriptApi definition;
        QVERIFY(definition.loadXml(smallApi()));
        const Disassembly d = disassemble(code, &definition);
        QVERIFY(coversWhole(d, code.size()));
        if (problem.isEmpty())
            QVERIFY2(d.problems.isEmpty(), qPrintable(d.problems.join('\n')));
        else
            QVERIFY2(d.problems.join('\n').contains(problem), qPrintable(d.problems.join('\n')));
        if (!dataAt.isEmpty()) {
            bool found = false;
            for (const DisLine &l : d.lines)
                found |= l.address == dataAt.toUInt(nullptr, 16) && l.kind == DisLine::Data;
            QVERIFY(found);
        }
    }

    // Without an API whose tables match, the tables' extent comes from the words themselves.
    void tablesWithoutApi()
    {
        const QByteArray code = QByteArray::fromHex("0400ffff0800ffff"
                                                    "5117");
        const Disassembly d = disassemble(code, nullptr);
        QCOMPARE(d.tables.classes.size(), 2);
        QCOMPARE(d.tables.events.size(), 2);
        QCOMPARE(d.tables.codeStart, qint64(8));
        QCOMPARE(d.tables.events[0].handler, quint16(8));
        QVERIFY(coversWhole(d, code.size()));
    }
};

NW_TEST(TestDisassembler)
#include "tst_disassembler.moc"
