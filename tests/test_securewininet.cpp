// FTP over TLS and SFTP through the WinInet-shaped calls the window makes, against vsftpd
// and asyncssh started here on loopback: the work of a session, and every refusal
// reaching the operator with its WinInet code and a reason, never with the password on
// the wire.

#include "core/ftp/ftpConnection.h"
#include "core/ftp/modWinInet.h"
#include "core/ftp/secureOptions.h"

#include "ftpstestserver.h"
#include "sftptestserver.h"
#include "testfiles.h"
#include "wininettest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace wininet;

namespace {

HINTERNET connectTo(HINTERNET hi, const QByteArray& name, const QString& user, const QString& password)
{
    return InternetConnectA(hi, name.constData(), 0, user.toUtf8().constData(), password.toUtf8().constData(),
                            INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
}

} // namespace

class TestSecureWinInet : public QObject {
    Q_OBJECT

    QTemporaryDir m_trust; // the folder of ftp.txt

    QString caFile() const { return m_trust.filePath(QString::fromLatin1(kTrustedCertificatesFile)); }

    QString knownHosts() const { return m_trust.filePath(QString::fromLatin1(kKnownHostsFile)); }

private slots:
    void eachSecureReasonHasItsCodeAndTheCodeItsName()
    {
        const std::pair<FailureReason, std::uint32_t> codes[] = {
            {FailureReason::CertificateDate, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
            {FailureReason::CertificateName, ERROR_INTERNET_SEC_CERT_CN_INVALID},
            {FailureReason::UnknownAuthority, ERROR_INTERNET_INVALID_CA},
            {FailureReason::Channel, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
            {FailureReason::HostKeyChanged, ERROR_INTERNET_SEC_INVALID_CERT},
            {FailureReason::LoginRefused, ERROR_INTERNET_EXTENDED_ERROR},
            {FailureReason::Refused, ERROR_INTERNET_EXTENDED_ERROR},
            {FailureReason::Stalled, ERROR_INTERNET_TIMEOUT}};
        for (const auto& [reason, code] : codes) {
            QCOMPARE(errorCodeOf(reason), code);
            QVERIFY(!errorName(code).empty());
        }
        QCOMPARE(errorName(ERROR_INTERNET_SEC_INVALID_CERT), std::string_view("ERROR_INTERNET_SEC_INVALID_CERT"));
        QVERIFY(errorName(4711).empty());
    }
    void init()
    {
        setFtpBounds({10, 10, 10});
        QFile::remove(caFile());
        QFile::remove(knownHosts());
        setTrustFolder(m_trust.path().toStdString());
    }
    void cleanup() { QCOMPARE(openInternetHandleCount(), 0); }
    void cleanupTestCase() { setTrustFolder({}); }

    void sessionWork_data()
    {
        QTest::addColumn<int>("tls");
        QTest::newRow("ftpes") << int(FtpsTestServerOptions::Tls::Explicit);
        QTest::newRow("ftps") << int(FtpsTestServerOptions::Tls::Implicit);
    }
    void sessionWork()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        QFETCH(int, tls);
        FtpsTestServerOptions o;
        o.tls = FtpsTestServerOptions::Tls(tls);
        o.forbiddenDirs = QStringList{QStringLiteral("secret")};
        FtpsTestServer server(o);
        QVERIFY(server.writeFile(QStringLiteral("pub/10.jpg"), "yesterday"));
        QVERIFY(server.makeDir(QStringLiteral("secret")));
        QVERIFY(server.start());
        QVERIFY(writeFile(caFile(), server.certificatePem()));

        const HINTERNET hi = openInternet();
        const CloseOnFailure guard{hi};
        const HINTERNET hFtp = connectTo(hi, server.serverName(), server.user(), server.password());
        QVERIFY2(hFtp != 0, qPrintable(QString::number(GetLastError()) + " " + lastResponse()));
        QVERIFY(FtpSetCurrentDirectoryA(hFtp, "/pub"));
        QCOMPARE(listFolder(hFtp).names, QStringList{QStringLiteral("10.jpg")});

        // The upload as the session makes it: the part file, then renamed over the image.
        QTemporaryDir local;
        const QByteArray image = randomBytes(1 << 20);
        const QString file = local.filePath(QStringLiteral("10.jpg"));
        QVERIFY(writeFile(file, image));
        QVERIFY(FtpPutFileA(hFtp, file.toUtf8().constData(), "10.jpg.part", FTP_TRANSFER_TYPE_BINARY, 0));
        QVERIFY(FtpRenameFileA(hFtp, "10.jpg.part", "10.jpg"));
        QCOMPARE(readFile(server.path(QStringLiteral("pub/10.jpg"))), image);
        QCOMPARE(listFolder(hFtp).names, QStringList{QStringLiteral("10.jpg")});

        // A refused folder reads as the server's refusal, and the session goes on.
        QVERIFY(!FtpSetCurrentDirectoryA(hFtp, "/secret"));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        std::int32_t code = 0;
        lastResponse(&code);
        QCOMPARE(code, 550);
        QVERIFY(FtpSetCurrentDirectoryA(hFtp, "/pub"));

        QVERIFY(InternetCloseHandle(hi));
        const QStringList commands = server.commands();
        QCOMPARE(commands.count(QStringLiteral("USER anonymous")), 1);
        QVERIFY(commands.contains(QStringLiteral("PROT P")));
    }

    void wrongPasswordIsTheServersRefusal()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.start());
        QVERIFY(writeFile(caFile(), server.certificatePem()));
        const HINTERNET hi = openInternet();
        const CloseOnFailure guard{hi};
        QCOMPARE(connectTo(hi, server.serverName(), server.user(), QStringLiteral("wrong")), 0);
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        std::int32_t code = 0;
        lastResponse(&code);
        QCOMPARE(code, 530);
        QVERIFY(InternetCloseHandle(hi));
    }

    void ftpesRefusedByAPlainServer()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServerOptions o;
        o.tls = FtpsTestServerOptions::Tls::Off;
        FtpsTestServer server(o);
        QVERIFY(server.start());
        const HINTERNET hi = openInternet();
        const CloseOnFailure guard{hi};
        QCOMPARE(connectTo(hi, "ftpes://" + server.address(), server.user(), server.password()), 0);
        QCOMPARE(GetLastError(), ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        QVERIFY(!lastResponse().isEmpty());
        QVERIFY(!lastLibraryErrorText().empty());
        QVERIFY(InternetCloseHandle(hi));
        const QStringList commands = server.commands();
        QVERIFY2(commands.contains(QStringLiteral("AUTH TLS")), qPrintable(commands.join(" | ")));
        QVERIFY2(!sentLogin(commands), qPrintable(commands.join(" | ")));
    }

    void untrustedCertificateThenTrusted()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.start());
        const HINTERNET hi = openInternet();
        const CloseOnFailure guard{hi};
        QCOMPARE(connectTo(hi, server.serverName(), server.user(), server.password()), 0);
        QCOMPARE(GetLastError(), ERROR_INTERNET_INVALID_CA);
        std::int32_t code = -1;
        QVERIFY(!lastResponse(&code).isEmpty());
        QCOMPARE(code, 0);
        // The certificate it refused, read again without a login, to be named and shown.
        QVERIFY(!sentLogin(server.commands()));
        QVERIFY(lastOfferedIdentity());
        QCOMPARE(lastOfferedIdentity()->fingerprint, server.fingerprint());

        // The operator puts the certificate beside ftp.txt; the next connect trusts it.
        QVERIFY(writeFile(caFile(), server.certificatePem()));
        const HINTERNET hFtp = connectTo(hi, server.serverName(), server.user(), server.password());
        QVERIFY2(hFtp != 0, qPrintable(QString::number(GetLastError()) + " " + lastResponse()));
        QCOMPARE(GetLastError(), ERROR_SUCCESS);
        QVERIFY(!lastOfferedIdentity());
        QVERIFY(InternetCloseHandle(hi));
    }

    // ---- SFTP ---------------------------------------------------------------------------

    void sftpSessionWork()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServerOptions o;
        o.forbiddenDirs = QStringList{QStringLiteral("secret")};
        SftpTestServer server(o);
        QVERIFY(server.writeFile(QStringLiteral("pub/10.jpg"), "yesterday"));
        QVERIFY(server.makeDir(QStringLiteral("pub/sub")));
        QVERIFY(server.makeDir(QStringLiteral("secret")));
        QVERIFY(server.start());

        const HINTERNET hi = openInternet();
        const CloseOnFailure guard{hi};
        const HINTERNET hFtp = connectTo(hi, server.serverName(), server.user(), server.password());
        QVERIFY2(hFtp != 0, qPrintable(QString::number(GetLastError()) + " " + lastResponse()));
        // A server never seen before is recorded at its first connect.
        QCOMPARE(readFile(knownHosts()).trimmed(),
                 (server.knownHostsName() + QLatin1Char(' ') + server.hostKey()).toUtf8());

        // No current folder on the server: a change is checked there, once.
        server.clearEvents();
        QVERIFY(FtpSetCurrentDirectoryA(hFtp, "pub"));
        QVERIFY2(server.events().contains(QStringLiteral("opendir /pub")), qPrintable(server.events().join(" | ")));
        QCOMPARE(listFolder(hFtp).names, QStringList({QStringLiteral("10.jpg"), QStringLiteral("sub/")}));

        // Missing, forbidden, or a file: each refused as a CWD is, the folder kept.
        for (const char* bad : {"/nope", "/secret", "/pub/10.jpg"}) {
            QVERIFY2(!FtpSetCurrentDirectoryA(hFtp, bad), bad);
            QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
            std::int32_t code = 0;
            QVERIFY(!lastResponse(&code).isEmpty());
            QCOMPARE(code, 550);
        }
        QCOMPARE(listFolder(hFtp).names, QStringList({QStringLiteral("10.jpg"), QStringLiteral("sub/")}));

        // The upload as the session makes it; the rename replaces yesterday's image.
        QTemporaryDir local;
        const QByteArray image = randomBytes(1 << 20);
        const QString file = local.filePath(QStringLiteral("10.jpg"));
        QVERIFY(writeFile(file, image));
        QVERIFY(FtpPutFileA(hFtp, file.toUtf8().constData(), "10.jpg.part", FTP_TRANSFER_TYPE_BINARY, 0));
        QVERIFY2(FtpRenameFileA(hFtp, "10.jpg.part", "10.jpg"), qPrintable(lastResponse()));
        QCOMPARE(readFile(server.path(QStringLiteral("pub/10.jpg"))), image);
        QCOMPARE(listFolder(hFtp).names, QStringList({QStringLiteral("10.jpg"), QStringLiteral("sub/")}));
        // A rename of nothing is refused, and the image stays.
        QVERIFY(!FtpRenameFileA(hFtp, "gone.part", "10.jpg"));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QCOMPARE(readFile(server.path(QStringLiteral("pub/10.jpg"))), image);
        QVERIFY(FtpDeleteFileA(hFtp, "/pub/10.jpg"));
        QVERIFY(!QFile::exists(server.path(QStringLiteral("pub/10.jpg"))));
        QVERIFY(!FtpDeleteFileA(hFtp, "10.jpg"));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QVERIFY(InternetCloseHandle(hi));
    }

    void sftpReplaceCutBetweenRemovalAndRenameEndsComplete()
    {
        // The link goes down right after the old image was removed, before the rename.
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServerOptions o;
        o.dropAfter = QStringLiteral("remove");
        SftpTestServer server(o);
        QVERIFY(server.writeFile(QStringLiteral("pub/10.jpg"), "yesterday"));
        QVERIFY(server.start());
        const HINTERNET hi = openInternet();
        const CloseOnFailure guard{hi};
        const HINTERNET hFtp = connectTo(hi, server.serverName(), server.user(), server.password());
        QVERIFY(hFtp != 0);
        QVERIFY(FtpSetCurrentDirectoryA(hFtp, "pub"));
        QTemporaryDir local;
        const QByteArray image = randomBytes(1 << 16);
        const QString file = local.filePath(QStringLiteral("10.jpg"));
        QVERIFY(writeFile(file, image));
        QVERIFY(FtpPutFileA(hFtp, file.toUtf8().constData(), "10.jpg.part", FTP_TRANSFER_TYPE_BINARY, 0));
        QVERIFY2(FtpRenameFileA(hFtp, "10.jpg.part", "10.jpg"),
                 qPrintable(lastResponse() + server.events().join(" | ")));
        QVERIFY2(server.events().contains(QStringLiteral("drop")), qPrintable(server.events().join(" | ")));
        QCOMPARE(readFile(server.path(QStringLiteral("pub/10.jpg"))), image);
        QVERIFY(!QFile::exists(server.path(QStringLiteral("pub/10.jpg.part"))));
        QVERIFY(InternetCloseHandle(hi));
    }

    void sftpWrongPasswordReadsAs530()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.start());
        const HINTERNET hi = openInternet();
        const CloseOnFailure guard{hi};
        QCOMPARE(connectTo(hi, server.serverName(), server.user(), QStringLiteral("wrong")), 0);
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        std::int32_t code = 0;
        QVERIFY(!lastResponse(&code).isEmpty());
        QCOMPARE(code, 530);
        QVERIFY(!lastLibraryErrorText().empty());
        QVERIFY(InternetCloseHandle(hi));
    }

    void sftpChangedHostKeyIsRefused()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        const HINTERNET hi = openInternet();
        const CloseOnFailure guard{hi};
        HINTERNET hFtp = connectTo(hi, server.serverName(), server.user(), server.password());
        QVERIFY(hFtp != 0);
        QVERIFY(InternetCloseHandle(hFtp));
        const QByteArray recorded = readFile(knownHosts());

        QVERIFY(server.changeHostKey());
        server.clearEvents();
        QCOMPARE(connectTo(hi, server.serverName(), server.user(), server.password()), 0);
        QCOMPARE(GetLastError(), ERROR_INTERNET_SEC_INVALID_CERT);
        QVERIFY(lastResponse().contains(QStringLiteral("SHA256:")));
        // Refused before the password, nothing written, and the old key still stands.
        const QStringList events = server.events();
        for (const auto& e : events)
            QVERIFY2(!e.startsWith(QLatin1String("auth")) && !e.startsWith(QLatin1String("open")), qPrintable(e));
        QCOMPARE(readFile(knownHosts()), recorded);
        QVERIFY(QDir(server.path(QStringLiteral("pub"))).isEmpty());
        QVERIFY(InternetCloseHandle(hi));
    }
};

QTEST_GUILESS_MAIN(TestSecureWinInet)
#include "test_securewininet.moc"
