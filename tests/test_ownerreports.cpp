// What the owner is told, and what is kept of every hour: alert.txt against bad input,
// when a message is due (after, recovery, stale), the record's lines (landed, tried,
// lost, an append cut short, a year kept), and a mail as libcurl is given it.
#include "core/app/alertSettings.h"
#include "core/app/mailText.h"
#include "core/scheduler/ownerAlerts.h"
#include "core/scheduler/uploadRecord.h"

#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

HourReport hour(const char* time, bool landed, int tries = 0, std::optional<qint64> age = 600)
{
    HourReport h;
    h.due = QDateTime(QDate(2026, 12, 7), QTime::fromString(QString::fromLatin1(time), "H:mm:ss"));
    h.file = h.due.toString("HH") + ".jpg";
    h.landed = landed;
    h.tries = tries;
    h.reason = landed ? QString() : QStringLiteral("InternetConnect ERROR_INTERNET_CANNOT_CONNECT");
    h.imageAge = age;
    return h;
}

// The kinds of message an hour brings, as one word each.
QString told(OwnerAlerts& alerts, const HourReport& h)
{
    QStringList kinds;
    for (const OwnerMessage& m : alerts.hourDecided(h, {QStringLiteral("the log's last line")}))
        kinds << (m.kind == OwnerMessageKind::Lost        ? "lost"
                  : m.kind == OwnerMessageKind::Recovered ? "recovered"
                  : m.kind == OwnerMessageKind::Stale     ? "stale"
                                                          : "test");
    return kinds.join(QLatin1Char('+'));
}

} // namespace

class TestOwnerReports : public QObject {
    Q_OBJECT
private slots:
    void alertFile_data();
    void alertFile();
    void loopbackHosts();
    void whenTheOwnerIsTold();
    void theCountGoesOnAcrossARestart();
    void aStaleImageIsToldOnce();
    void theRecordTellsTheStory();
    void theRecordKeepsAboutAYear();
    void aMailIsAWholeOne();
};

void TestOwnerReports::alertFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QStringList>("mistakes");
    QTest::addColumn<QString>("mail"); // what counts of it
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("after");
    // clang-format off
    QTest::newRow("a whole file, BOM, CRLF and comments")
        << QByteArray("\xEF\xBB\xBF# to the owner\r\nmail = owner@example.jp\r\nsmtp=smtps://smtp.example.jp:465\r\n"
                      "smtp_user=cam\r\nsmtp_password=p=w\r\nurl=https://ntfy.sh/cam\r\nafter=3\r\nstale=6\r\n")
        << QStringList{} << "owner@example.jp" << "https://ntfy.sh/cam" << 3;
    QTest::newRow("an unknown key is named with its line")
        << QByteArray("url=https://ntfy.sh/cam\ncolour=blue\n")
        << QStringList{"alert.txt:2: unknown key \"colour\""} << "" << "https://ntfy.sh/cam" << 1;
    QTest::newRow("bad values are left out, the rest counts")
        << QByteArray("url=ftp://example.jp/x\nafter=0\nmail=not an address\nping=https://hc-ping.com/1\n")
        << QStringList{"alert.txt:1: url is not an http:// or https:// address",
                       "alert.txt:2: after must be a whole number from 1", "alert.txt:3: mail is not a mail address"}
        << "" << "" << 1;
    QTest::newRow("a mail server must be smtps or smtp")
        << QByteArray("mail=a@b.jp\nsmtp=http://smtp.example.jp\n")
        << QStringList{"alert.txt:2: smtp must be smtps://host:465, or smtp://host:587 with STARTTLS",
                       "alert.txt:1: mail needs smtp, the mail server to send through"}
        << "" << "" << 1;
    QTest::newRow("a login in the server's address, a blank in a key")
        << QByteArray("smtp=smtps://cam:pw@smtp.example.jp:465\nsmtp_password x=y\nurl=https://u:t@a.jp/1\n")
        << QStringList{"alert.txt:1: smtp holds a login; it goes into smtp_user and smtp_password",
                       "alert.txt:2: the key before = has a blank in it"}
        << "" << "https://u:t@a.jp/1" << 1;
    QTest::newRow("twice, no equals sign, a login half given")
        << QByteArray("url=https://a.jp/1\nurl=https://a.jp/2\njust text\nsmtp_user=u\n")
        << QStringList{"alert.txt:2: \"url\" is set already on line 1", "alert.txt:3: not key=value",
                       "alert.txt:4: smtp_user and smtp_password go together"}
        << "" << "https://a.jp/1" << 1;
    QTest::newRow("a line that is not UTF-8")
        << QByteArray("mail=\xff\xfe@x\nsmtp=smtp://127.0.0.1:2525\n")
        << QStringList{"alert.txt:1: not UTF-8 text",
                       "alert.txt:2: smtp is set, but mail, who gets the mails, is not"}
        << "" << "" << 1;
    // clang-format on
}

void TestOwnerReports::alertFile()
{
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, mistakes);
    QFETCH(QString, mail);
    QFETCH(QString, url);
    QFETCH(int, after);
    const AlertFile file = parseAlertSettings(contents);
    QCOMPARE(file.mistakes, mistakes);
    QCOMPARE(file.settings.mail, mail);
    QCOMPARE(file.settings.url, url);
    QCOMPARE(file.settings.after, after);
    if (mistakes.isEmpty())
        QCOMPARE(file.settings.smtpPassword, QString("p=w")); // only the first = splits
}

// Where plain SMTP may go: this machine alone.
void TestOwnerReports::loopbackHosts()
{
    for (const char* host : {"127.0.0.1", "127.3.2.1", "::1", "[::1]", "localhost"})
        QVERIFY2(isLoopbackHost(QString::fromLatin1(host)), host);
    for (const char* host : {"128.0.0.1", "127.0.0.256", "mail.example.jp", "10.0.0.1", ""})
        QVERIFY2(!isLoopbackHost(QString::fromLatin1(host)), host);
}

void TestOwnerReports::whenTheOwnerIsTold()
{
    // One message at the after-th lost hour in a row, none for those after it, one when
    // an hour lands again; a landed hour before that resets the count quietly.
    OwnerAlerts alerts(2, std::nullopt, 0);
    QCOMPARE(told(alerts, hour("10:30:20", false)), QString());
    QCOMPARE(told(alerts, hour("11:30:20", true)), QString());
    QCOMPARE(told(alerts, hour("12:30:20", false)), QString());
    QCOMPARE(told(alerts, hour("13:30:20", false)), QString("lost"));
    QCOMPARE(told(alerts, hour("14:30:20", false)), QString());
    QCOMPARE(told(alerts, hour("15:30:20", true, 2)), QString("recovered"));
    QCOMPARE(told(alerts, hour("16:30:20", true)), QString());

    // The words: the hours, the file and the reason, the log's tail; the count lost.
    OwnerAlerts words(2, std::nullopt, 0);
    words.hourDecided(hour("10:30:20", false), {});
    const OwnerMessage lost = words.hourDecided(hour("11:30:20", false), {QStringLiteral("WARN hourly: ...")}).value(0);
    QCOMPARE(lost.subject, QString("Skylark: 11.jpg を送れませんでした (2026-12-07 11:30)"));
    QVERIFY2(lost.text.contains("2026-12-07 10:30:20  10.jpg  InternetConnect ERROR_INTERNET_CANNOT_CONNECT") &&
                 lost.text.contains("2026-12-07 11:30:20  11.jpg") && lost.text.contains("WARN hourly: ..."),
             qPrintable(lost.text));
    const OwnerMessage back = words.hourDecided(hour("12:30:20", true, 3), {}).value(0);
    QVERIFY2(back.text.contains("2 時間分") && back.text.contains("3 回目"), qPrintable(back.text));
}

void TestOwnerReports::theCountGoesOnAcrossARestart()
{
    // Three lost when the program restarted, after=3: told already; the next lost hour
    // sends nothing, the first one that lands says four were lost.
    OwnerAlerts told3(3, std::nullopt, 3);
    QCOMPARE(told(told3, hour("10:30:20", false)), QString());
    const OwnerMessage back = told3.hourDecided(hour("11:30:20", true), {}).value(0);
    QCOMPARE(back.kind, OwnerMessageKind::Recovered);
    QVERIFY2(back.text.contains("4 時間分"), qPrintable(back.text));
    // Two lost, after=3: the next one is the third.
    OwnerAlerts notYet(3, std::nullopt, 2);
    QCOMPARE(told(notYet, hour("10:30:20", false)), QString("lost"));
}

void TestOwnerReports::aStaleImageIsToldOnce()
{
    OwnerAlerts quiet(1, std::nullopt, 0); // a fixed set of images: no stale= , no message
    QCOMPARE(told(quiet, hour("10:30:20", true, 0, 30 * 3600)), QString());
    OwnerAlerts alerts(1, 6, 0);
    QCOMPARE(told(alerts, hour("10:30:20", true, 0, 5 * 3600)), QString());
    QCOMPARE(told(alerts, hour("11:30:20", true, 0, 7 * 3600)), QString("stale"));
    QCOMPARE(told(alerts, hour("12:30:20", true, 0, 8 * 3600)), QString());
    QCOMPARE(told(alerts, hour("13:30:20", true, 0, 60)), QString()); // the camera is back
    QCOMPARE(told(alerts, hour("14:30:20", false, 0, 9 * 3600)), QString("lost+stale"));
}

void TestOwnerReports::theRecordTellsTheStory()
{
    QTemporaryDir folder;
    UploadRecord record(folder.path());
    const QDateTime ten(QDate(2026, 12, 7), QTime(10, 30, 20));
    QVERIFY(record.append({ten, "10.jpg", true, 0, 70211, {}}));
    QVERIFY(record.append({ten.addSecs(3600), "11.jpg", true, 2, 70480, {}}));
    QVERIFY(record.append({ten.addSecs(7200), "12.jpg", false, 6, 0, "FtpPutFile 451 Local error, \"disk\"\r\nsoon"}));
    QCOMPARE(readFile(record.path()), QByteArray("date,time,file,result,tries,bytes,reason\r\n"
                                                 "2026-12-07,10:30:20,10.jpg,landed,0,70211,\r\n"
                                                 "2026-12-07,11:30:20,11.jpg,landed,2,70480,\r\n"
                                                 "2026-12-07,12:30:20,12.jpg,not-sent,6,0,FtpPutFile 451 Local "
                                                 "error; 'disk'  soon\r\n"));
    QCOMPARE(record.lostInARow(), 1);

    // An append cut short (a crash, a full disk) and a hand-edited line: the next line
    // starts on a line of its own, and the count reads past them.
    QFile file(record.path());
    QVERIFY(file.open(QIODevice::Append));
    file.write("2026-12-07,13:30:20,13.jpg,not-se");
    file.close();
    QVERIFY(record.append({ten.addSecs(3 * 3600), "13.jpg", false, 1, 0, "no time left"}));
    const QByteArray written = readFile(record.path());
    QVERIFY2(written.endsWith("not-se\r\n2026-12-07,13:30:20,13.jpg,not-sent,1,0,no time left\r\n"),
             written.constData());
    // An hour the program's end cut off neither counts nor ends the run of lost ones.
    QVERIFY(record.append({ten.addSecs(4 * 3600), "14.jpg", false, 0, 0, kProgramEndedReason}));
    QCOMPARE(UploadRecord(folder.path()).lostInARow(), 2);
}

void TestOwnerReports::theRecordKeepsAboutAYear()
{
    QTemporaryDir folder;
    UploadRecord record(folder.path());
    const QDateTime first(QDate(2025, 10, 1), QTime(10, 30, 20));
    QVERIFY(record.append({first, "10.jpg", true, 0, 1, {}}));
    QVERIFY(record.append({first.addDays(100), "10.jpg", false, 0, 1, "x"}));
    // 13 months and a day after the first line: the lines older than a year go.
    const QDateTime now = first.addDays(396);
    QVERIFY(record.append({now, "10.jpg", true, 0, 1, {}}));
    const QList<QByteArray> lines = readFile(record.path()).split('\n');
    QCOMPARE(lines.size(), 4); // the header, the 100th day's, today's, and the end
    QVERIFY(lines[1].startsWith("2026-01-09"));
    // The next append does not trim again.
    QVERIFY(record.append({now.addSecs(3600), "11.jpg", true, 0, 1, {}}));
    QCOMPARE(readFile(record.path()).count('\n'), 4);
}

void TestOwnerReports::aMailIsAWholeOne()
{
    const QString subject = QStringLiteral("Skylark: 10.jpg を送れませんでした (2026-12-07 10:30)");
    const QByteArray mail = formatMail("cam@example.jp", "owner@example.jp", subject, QStringLiteral("一行目\n二行目"),
                                       QDateTime(QDate(2026, 12, 7), QTime(10, 31, 0)));
    const qsizetype split = mail.indexOf("\r\n\r\n");
    const QByteArray head = mail.left(split);
    QVERIFY(!mail.contains("\n") || mail.count('\n') == mail.count("\r\n")); // CRLF only
    for (const char* header : {"Date: 07 Dec 2026 10:31:00", "From: <cam@example.jp>", "To: <owner@example.jp>",
                               "Message-ID: <20261207103100.", "@example.jp>", "MIME-Version: 1.0",
                               "Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: base64"})
        QVERIFY2(head.contains(header), header);
    // The subject: encoded words of at most 75 characters, folded, which decode to it.
    QByteArray field = head.mid(head.indexOf("Subject: ") + 9);
    field = field.left(field.indexOf("\r\nMIME-Version"));
    QString decoded;
    for (const QByteArray& line : field.split('\n')) {
        const QByteArray word = line.trimmed();
        QVERIFY2(word.size() <= 75 && word.startsWith("=?UTF-8?B?") && word.endsWith("?="), word.constData());
        decoded += QString::fromUtf8(QByteArray::fromBase64(word.mid(10, word.size() - 12)));
    }
    QCOMPARE(decoded, subject);
    const QByteArray body = QByteArray::fromBase64(mail.mid(split + 4).replace("\r\n", ""));
    QCOMPARE(QString::fromUtf8(body), QString("一行目\r\n二行目"));
    QCOMPARE(encodedHeader(QStringLiteral("plain words")), QByteArray("plain words"));
}

QTEST_APPLESS_MAIN(TestOwnerReports)
#include "test_ownerreports.moc"
