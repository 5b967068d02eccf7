// Reading control replies out of what a server sends, well-formed or not.
#include "core/ftp/ftpReply.h"

#include <QtTest>

#include <string>

namespace {

FtpReply readAll(const std::string& bytes)
{
    FtpReplyReader reader;
    reader.feed(bytes);
    return reader.last();
}

} // namespace

class TestFtpReply : public QObject {
    Q_OBJECT
private slots:
    void replies_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("one line") << QByteArray("220 Ready\r\n") << 220 << QByteArray("220 Ready");
        QTest::newRow("LF only") << QByteArray("220 Ready\n") << 220 << QByteArray("220 Ready");
        QTest::newRow("code alone") << QByteArray("230\r\n") << 230 << QByteArray("230");
        QTest::newRow("Japanese") << QByteArray("550 フォルダがありません\r\n") << 550
                                  << QByteArray("550 フォルダがありません");
        QTest::newRow("multi-line") << QByteArray("230-Welcome\r\n230-to here\r\n230 Done\r\n") << 230
                                    << QByteArray("230-Welcome\n230-to here\n230 Done");
        QTest::newRow("plain lines inside") << QByteArray("214-Commands:\r\n USER PASS\r\n\r\n214 End\r\n") << 214
                                            << QByteArray("214-Commands:\n USER PASS\n\n214 End");
        // Only its own code and a blank end a reply; another code inside is text.
        QTest::newRow("code changes mid-block")
            << QByteArray("150-First\r\n226 not the end\r\n150-nor this\r\n 150 nor this\r\n150 End\r\n") << 150
            << QByteArray("150-First\n226 not the end\n150-nor this\n 150 nor this\n150 End");
        QTest::newRow("stray text before")
            << QByteArray("hello\r\n\r\n  220 x\r\n220 Ready\r\n") << 220 << QByteArray("220 Ready");
        QTest::newRow("last of two") << QByteArray("331 Password\r\n230 Logged in\r\n") << 230
                                     << QByteArray("230 Logged in");
        QTest::newRow("CR inside a line") << QByteArray("550 a\rb\r\n") << 550 << QByteArray("550 a\rb");
        QTest::newRow("block never ends")
            << QByteArray("331 Password\r\n421-Closing\r\n") << 331 << QByteArray("331 Password");
        QTest::newRow("no line end yet") << QByteArray("220 Ready") << 0 << QByteArray();
        QTest::newRow("nothing but text") << QByteArray("\x00\xff junk\r\n22 short\r\n", 19) << 0 << QByteArray();
    }
    void replies()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, code);
        QFETCH(QByteArray, text);
        const FtpReply whole = readAll(bytes.toStdString());
        QCOMPARE(whole.code, code);
        QCOMPARE(QByteArray::fromStdString(whole.text), text);

        // The same bytes in two pieces, cut at every place (a CR LF split included), and
        // one byte at a time.
        for (int cut = 0; cut <= bytes.size(); ++cut) {
            FtpReplyReader reader;
            reader.feed(bytes.left(cut).toStdString());
            reader.feed(bytes.mid(cut).toStdString());
            QCOMPARE(reader.last().code, code);
            QCOMPARE(QByteArray::fromStdString(reader.last().text), text);
        }
        FtpReplyReader bytewise;
        for (const char c : bytes)
            bytewise.feed(std::string(1, c));
        QCOMPARE(bytewise.last().code, code);
        QCOMPARE(QByteArray::fromStdString(bytewise.last().text), text);
    }

    void featAnnouncesMlst_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("mlst");
        QTest::newRow("listed") << QByteArray("211-Features:\r\n MDTM\r\n MLST type*;size*;\r\n211 End\r\n") << true;
        QTest::newRow("lower case, no blank") << QByteArray("211-Features:\r\nmlst type*;\r\n211 End\r\n") << true;
        QTest::newRow("block not ended yet") << QByteArray("211-Features:\r\n MLST type*;\r\n") << true;
        QTest::newRow("absent") << QByteArray("211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n") << false;
        QTest::newRow("MLSD is not MLST") << QByteArray("211-Features:\r\n MLSD\r\n211 End\r\n") << false;
        QTest::newRow("short") << QByteArray("211-Features:\r\n MLS\r\n211 End\r\n") << false;
        QTest::newRow("other reply") << QByteArray("214-Help:\r\n MLST\r\n214 End\r\n") << false;
        QTest::newRow("one-line 211") << QByteArray("211 MLST\r\n") << false;
        QTest::newRow("first line") << QByteArray("211-MLST\r\n211 End\r\n") << false;
    }
    void featAnnouncesMlst()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, mlst);
        FtpReplyReader reader;
        reader.feed(bytes.toStdString());
        QCOMPARE(reader.announcedMlst(), mlst);
        // What FEAT said outlives the request, until asked again.
        reader.reset();
        QCOMPARE(reader.announcedMlst(), mlst);
        reader.forgetFeatures();
        QVERIFY(!reader.announcedMlst());
    }

    void resetForgetsWhatCameSoFar()
    {
        FtpReplyReader reader;
        reader.feed("220 Ready\r\n230-Welcome\r\nmore of it");
        QCOMPARE(reader.last().code, 220);
        reader.reset();
        QCOMPARE(reader.last().code, 0);
        QVERIFY(reader.last().text.empty());
        QCOMPARE(reader.heldBytes(), std::size_t{0});
        reader.feed("230 ok\r\n");
        QCOMPARE(reader.last().code, 230);
        QCOMPARE(reader.last().text, std::string("230 ok"));
    }

    // A line without end is held up to its cap, and what follows its end is read as
    // it should be; the tail of a cut line is never taken for a reply of its own.
    void hugeLines()
    {
        constexpr std::size_t cap = FtpReplyReader::kMaxLineBytes;
        FtpReplyReader reader;
        const std::string chunk(4096, 'x');
        reader.feed("550 ");
        for (int i = 0; i < 1000; ++i) {
            reader.feed(chunk);
            QVERIFY(reader.heldBytes() <= cap);
        }
        QCOMPARE(reader.last().code, 0);
        reader.feed("\r\n");
        QCOMPARE(reader.last().code, 550);
        QCOMPARE(reader.last().text.size(), cap);
        QCOMPARE(reader.last().text.substr(0, 8), std::string("550 xxxx"));

        reader.feed(std::string(cap + 100, 'y'));
        reader.feed("421 forged\r\n226 next\r\n");
        QCOMPARE(reader.last().code, 226);
        QCOMPARE(reader.last().text, std::string("226 next"));
        QCOMPARE(reader.heldBytes(), std::size_t{0});

        // Exactly at the cap nothing is lost.
        const std::string fits = "211 " + std::string(cap - 4, 'z');
        QCOMPARE(readAll(fits + "\r\n").text, fits);
    }

    // A multi-line reply that goes on and on keeps its first lines and still ends where
    // its own end comes.
    void endlessBlock()
    {
        FtpReplyReader reader;
        reader.feed("211-Features:\r\n");
        for (int i = 0; i < 100000; ++i) {
            reader.feed(" FEATURE" + std::to_string(i) + "\r\n");
            QVERIFY(reader.heldBytes() <= FtpReplyReader::kMaxLineBytes + FtpReplyReader::kMaxReplyBytes);
        }
        reader.feed(" MLST type*;\r\n211 End\r\n");
        QCOMPARE(reader.last().code, 211);
        QVERIFY(reader.last().text.size() <= FtpReplyReader::kMaxReplyBytes);
        QVERIFY(reader.last().text.starts_with("211-Features:\n FEATURE0\n"));
        QVERIFY(reader.announcedMlst());
    }
};

QTEST_GUILESS_MAIN(TestFtpReply)
#include "test_ftpreply.moc"
