#include "lexer.h"
#include "testmain.h"

#include <QTest>

// Token kinds of a scanned line, written "kind" or "kind=value" for numbers and "kind:text"
// for strings and identifiers, the leading DEBUG marker and the EOL left out.
static QString scanLine(const QByteArray &line, bool *ok, QByteArray *failed)
{
    Lexer lexer;
    lexer.reset(line + '\n', 1);
    Instruction t;
    QStringList out;
    *ok = true;
    lexer.next(t); // DEBUG
    for (;;) {
        if (!lexer.next(t)) {
            *ok = false;
            *failed = lexer.failedText();
            break;
        }
        if (t.kind == tk::Eol) break;
        if (t.kind == tk::Int32)
            out << QStringLiteral("%1=%2").arg(t.kind).arg(t.value);
        else if (t.kind == tk::IString || t.kind == tk::Id)
            out << QStringLiteral("%1:%2").arg(t.kind).arg(QString::fromLatin1(t.text.toHex()));
        else
            out << QString::number(t.kind);
    }
    return out.join(QLatin1Char(' '));
}

class LexerTest : public QObject
{
    Q_OBJECT
private slots:
    void tokens_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        // x = 5-3: after an operand "-" is the operator, "3" a separate number.
        QTest::newRow("minus after operand") << QByteArray("x = 5-3") << "40:78 7 10=5 2 10=3";
        QTest::newRow("negative literal") << QByteArray("x = -3") << "40:78 7 10=-3";
        QTest::newRow("minus minus") << QByteArray("a = b - -1") << "40:61 7 40:62 2 10=-1";
        QTest::newRow("hex") << QByteArray("$FF") << "10=255";
        QTest::newRow("negative hex") << QByteArray("-$10") << "10=-16";
        QTest::newRow("dotted") << QByteArray("10.0.0.1") << "10=16777226";            // 0x0100000A
        QTest::newRow("dotted address") << QByteArray("192.168.1.1") << "10=16885952"; // 0x0101A8C0
        QTest::newRow("comment ends line") << QByteArray("x = 1 # set") << "40:78 7 10=1";
        QTest::newRow("keywords lower case only") << QByteArray("If END if end") << "40:4966 40:454e44 16 23";
        QTest::newRow("hex escape") << QByteArray("\"ab\\x41\"") << "26:616241";
        QTest::newRow("unknown escape") << QByteArray("\"\\q\\n\\\\\"") << "26:710a5c";
        QTest::newRow("short hex escape stays in string") << QByteArray("\"a\\x4\" b") << "26:6104 40:62";
        QTest::newRow("no escaped quote") << QByteArray("\"a\\\" b") << "26:61 40:62";
        QTest::newRow("not equal") << QByteArray("x != 1") << "40:78 48 10=1";
        QTest::newRow("operator runs") << QByteArray("a<=b>=c<<d>>e&&f||g")
                                       << "40:61 70 40:62 71 40:63 66 40:64 65 40:65 63 40:66 64 40:67";
        QTest::newRow("largest literals")
            << QByteArray("2147483647, -2147483648, $FFFFFFFF") << "10=2147483647 13 10=-2147483648 13 10=-1";
        QTest::newRow("return is a keyword") << QByteArray("return") << "25";
        // Groups from the fifth on are shifted out: the value is that of 1.2.3.4, 0x04030201.
        QTest::newRow("100000 dotted groups")
            << "1.2.3.4" + QByteArray(".5").repeated(100000) << "10=67305985";
        QTest::newRow("negative group fills the bytes above")
            << QByteArray("1.-1") << "10=-255"; // 0xFFFFFF01
    }
    void tokens()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        bool ok = false;
        QByteArray failed;
        QCOMPARE(scanLine(line, &ok, &failed), expected);
        QVERIFY(ok);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("failed");
        QTest::newRow("double equals") << QByteArray("x == 1") << QByteArray("==");
        QTest::newRow("lone dollar") << QByteArray("x = $") << QByteArray("$");
        QTest::newRow("minus before name") << QByteArray("x = -y") << QByteArray("-");
        QTest::newRow("semicolon") << QByteArray("x = 1;") << QByteArray(";");
        QTest::newRow("angle pair") << QByteArray("a <> b") << QByteArray("<>");
        QTest::newRow("bang alone") << QByteArray("! a") << QByteArray("!");
        QTest::newRow("open string") << QByteArray("x = \"abc") << QByteArray("\"abc");
        QTest::newRow("decimal too large") << QByteArray("x = 2147483648") << QByteArray("2147483648");
        QTest::newRow("decimal too small") << QByteArray("x = -2147483649") << QByteArray("-2147483649");
        QTest::newRow("hex too long") << QByteArray("x = $100000000") << QByteArray("$100000000");
        QTest::newRow("bad dotted group") << QByteArray("x = 1.a") << QByteArray("1.");
        QTest::newRow("bad group after 100000")
            << "x = " + QByteArray("1.").repeated(100000) + "a" << QByteArray("1.").repeated(100000);
        QTest::newRow("out-of-range group") << QByteArray("x = 1.4294967296") << QByteArray("1.4294967296");
    }
    void failures()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, failed);
        bool ok = true;
        QByteArray text;
        scanLine(line, &ok, &text);
        QVERIFY(!ok);
        QCOMPARE(text, failed);
    }

    void lineStartsWithDebugMarker()
    {
        Lexer lexer;
        lexer.reset("x = 1\n", 4);
        Instruction t;
        QVERIFY(lexer.next(t));
        QCOMPARE(t.kind, int(tk::Debug));
        QCOMPARE(t.mnemonic(), QByteArray("x = 1"));
        QCOMPARE(t.text, QByteArray("x = 1")); // a marker's text is its line, without the "\n"
        QVERIFY(!lexer.expect(t, tk::Eq)); // an identifier comes first and is pushed back
        QVERIFY(lexer.next(t));
        QCOMPARE(t.kind, int(tk::Id));
        QVERIFY(lexer.expect(t, tk::Eq));
        QCOMPARE(lexer.lineNumber(), 4);
    }
};

NW_TEST(LexerTest)
#include "tst_lexer.moc"
