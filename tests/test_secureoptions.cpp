// The secure side of a connection against real servers: vsftpd for FTP over TLS and
// asyncssh for SFTP, each started here on loopback. A small libcurl client applies the
// layer's options the way the request runner does and reads back what reached the
// server: trust is settled before any password leaves, and every refusal carries the
// WinInet code the operator is shown.

#include "ftp/modWinInet.h"
#include "ftp/secureOptions.h"
#include "ftp/serverAddress.h"

#include "ftpstestserver.h"
#include "sftptestserver.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <curl/curl.h>

#include <functional>
#include <memory>

namespace {

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

size_t collect(char* p, size_t size, size_t n, void* out)
{
    static_cast<QByteArray*>(out)->append(p, static_cast<qsizetype>(size * n));
    return size * n;
}

struct Upload {
    QByteArray data;
    qsizetype at = 0;
};

size_t feed(char* buffer, size_t size, size_t n, void* in)
{
    auto* u = static_cast<Upload*>(in);
    const auto chunk = std::min<qsizetype>(static_cast<qsizetype>(size * n), u->data.size() - u->at);
    std::memcpy(buffer, u->data.constData() + u->at, static_cast<size_t>(chunk));
    u->at += chunk;
    return static_cast<size_t>(chunk);
}

// One session's connection, driven the way the layer drives it: the handle is reset
// before every request, then the request's own options and the secure ones are set.
class Client {
public:
    Client(const QByteArray& serverName, const QString& user, const QString& password)
        : m_server(*parseServerAddress(serverName.toStdString(), 0)), m_channel(m_server), m_curl(curl_easy_init()),
          m_user(user.toStdString()), m_password(password.toStdString())
    {
    }

    CURLcode list(const QString& folder, QByteArray* body = nullptr)
    {
        QByteArray sink;
        return run(folder, {}, [&](CURL* c) {
            curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
            curl_easy_setopt(c, CURLOPT_WRITEDATA, body ? body : &sink);
        });
    }

    CURLcode upload(const QString& folder, const QString& name, const QByteArray& data)
    {
        Upload u{data};
        return run(folder, name, [&](CURL* c) {
            curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(c, CURLOPT_READFUNCTION, feed);
            curl_easy_setopt(c, CURLOPT_READDATA, &u);
            curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(data.size()));
        });
    }

    // A request on the folder that carries quote commands and moves no data.
    CURLcode quote(const QString& folder, const QStringList& commands)
    {
        curl_slist* list = nullptr;
        for (const auto& c : commands)
            list = curl_slist_append(list, c.toUtf8().constData());
        std::unique_ptr<curl_slist, SlistDeleter> owned(list);
        return run(folder, {}, [&](CURL* c) {
            curl_easy_setopt(c, CURLOPT_QUOTE, list);
            curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        });
    }

    std::optional<SecureFailure> failure(CURLcode rc) const { return m_channel.failure(m_curl.get(), rc); }
    const SecureChannel& channel() const { return m_channel; }
    long stallSeconds = 10;

private:
    CURLcode run(const QString& folder, const QString& file, const std::function<void(CURL*)>& setup)
    {
        CURL* c = m_curl.get();
        curl_easy_reset(c);
        const std::string url = ftpUrl(m_server, folder.toStdString(), file.toStdString());
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_USERNAME, m_user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, m_password.c_str());
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
        curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, 10L);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 10L);
        curl_easy_setopt(c, CURLOPT_FTP_USE_EPSV, 1L);
        curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        setup(c);
        m_channel.apply(c, stallSeconds);
        return curl_easy_perform(c);
    }

    ServerAddress m_server;
    SecureChannel m_channel;
    std::unique_ptr<CURL, CurlDeleter> m_curl;
    std::string m_user;
    std::string m_password;
};

} // namespace

class TestSecureOptions : public QObject {
    Q_OBJECT

    QTemporaryDir m_trust; // the folder of ftp.txt

    QString caFile() const { return m_trust.filePath(QString::fromLatin1(kTrustedCertificatesFile)); }
    QString knownHosts() const { return m_trust.filePath(QString::fromLatin1(kKnownHostsFile)); }

private slots:
    void initTestCase() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    void init()
    {
        QFile::remove(caFile());
        QFile::remove(knownHosts());
        SetTrustFolder(m_trust.path().toStdString());
    }
    void cleanupTestCase()
    {
        SetTrustFolder({});
        curl_global_cleanup();
    }

    // ---- FTP over TLS ---------------------------------------------------------------

    void tlsSessionsCarryTheWork_data()
    {
        QTest::addColumn<int>("tls");
        QTest::addColumn<bool>("ipv6");
        QTest::newRow("ftpes") << int(FtpsTestServerOptions::Tls::Explicit) << false;
        QTest::newRow("ftps") << int(FtpsTestServerOptions::Tls::Implicit) << false;
        QTest::newRow("ftpes on ::1") << int(FtpsTestServerOptions::Tls::Explicit) << true;
    }
    void tlsSessionsCarryTheWork()
    {
        SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        QFETCH(int, tls);
        QFETCH(bool, ipv6);
        FtpsTestServerOptions o;
        o.tls = FtpsTestServerOptions::Tls(tls);
        o.ipv6 = ipv6;
        FtpsTestServer server(o);
        QVERIFY(server.writeFile(QStringLiteral("pub/old.jpg"), "old"));
        QVERIFY(server.start());
        QVERIFY(writeFile(caFile(), server.certificatePem()));

        // Listing, uploads and a listing again on one control connection: every data
        // connection has to resume the control connection's TLS session, which vsftpd
        // demands and libcurl 7.88 gets wrong with TLS 1.3.
        Client client(server.serverName(), server.user(), server.password());
        QByteArray listing;
        QCOMPARE(client.list(QStringLiteral("/pub"), &listing), CURLE_OK);
        QVERIFY2(listing.contains("old.jpg"), listing.constData());
        const QByteArray image = randomBytes(1 << 20);
        for (const char* name : {"10.jpg", "11.jpg", "12.jpg"}) {
            QCOMPARE(client.upload(QStringLiteral("/pub"), QString::fromLatin1(name), image), CURLE_OK);
            QCOMPARE(readFile(server.path(QStringLiteral("pub/") + QLatin1String(name))), image);
        }
        listing.clear();
        QCOMPARE(client.list(QStringLiteral("/pub"), &listing), CURLE_OK);
        QVERIFY2(listing.contains("12.jpg"), listing.constData());

        const QStringList commands = server.commands();
        QCOMPARE(commands.count(QStringLiteral("USER anonymous")), 1); // one login for all of it
        if (o.tls == FtpsTestServerOptions::Tls::Explicit) {
            // TLS is asked for with the standard command, before anything else.
            QCOMPARE(commands.value(0), QStringLiteral("AUTH TLS"));
            QVERIFY(!commands.contains(QStringLiteral("AUTH SSL")));
        } else {
            QCOMPARE(commands.value(0), QStringLiteral("USER anonymous"));
        }
        QVERIFY(commands.contains(QStringLiteral("PBSZ 0")));
        QVERIFY(commands.contains(QStringLiteral("PROT P")));
        QVERIFY(server.replies().contains(QStringLiteral("200 PROT now Private.")));
    }

    void ftpesNeverFallsBackToClearText()
    {
        SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServerOptions o;
        o.tls = FtpsTestServerOptions::Tls::Off;
        FtpsTestServer server(o);
        QVERIFY(server.start());
        const QByteArray name = "ftpes://" + server.address();
        Client client(name, server.user(), server.password());
        const CURLcode rc = client.list(QStringLiteral("/"));
        QCOMPARE(rc, CURLE_USE_SSL_FAILED);
        const auto failure = client.failure(rc);
        QVERIFY(failure);
        QCOMPARE(failure->error, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        QVERIFY(!failure->responseText.empty());
        const QStringList commands = server.commands();
        QVERIFY2(commands.contains(QStringLiteral("AUTH TLS")), qPrintable(commands.join(" | ")));
        QVERIFY2(!sentLogin(commands), qPrintable(commands.join(" | ")));
    }

    void certificateRefusals_data()
    {
        QTest::addColumn<int>("certificate");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("host");
        QTest::addColumn<uint>("error");
        QTest::newRow("self-signed, not trusted")
            << int(FtpsTestServerOptions::Certificate::Good) << false << "127.0.0.1" << uint(ERROR_INTERNET_INVALID_CA);
        QTest::newRow("expired") << int(FtpsTestServerOptions::Certificate::Expired) << true << "127.0.0.1"
                                 << uint(ERROR_INTERNET_SEC_CERT_DATE_INVALID);
        QTest::newRow("another name") << int(FtpsTestServerOptions::Certificate::WrongName) << true << "127.0.0.1"
                                      << uint(ERROR_INTERNET_SEC_CERT_CN_INVALID);
        QTest::newRow("another name, by name") << int(FtpsTestServerOptions::Certificate::WrongName) << true
                                               << "localhost" << uint(ERROR_INTERNET_SEC_CERT_CN_INVALID);
    }
    void certificateRefusals()
    {
        SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        QFETCH(int, certificate);
        QFETCH(bool, trusted);
        QFETCH(QString, host);
        QFETCH(uint, error);
        FtpsTestServerOptions o;
        o.certificate = FtpsTestServerOptions::Certificate(certificate);
        FtpsTestServer server(o);
        QVERIFY(server.start());
        if (trusted)
            QVERIFY(writeFile(caFile(), server.certificatePem()));
        Client client(QStringLiteral("ftpes://%1:%2").arg(host).arg(server.port()).toUtf8(), server.user(),
                      server.password());
        const CURLcode rc = client.list(QStringLiteral("/"));
        QCOMPARE(rc, CURLE_PEER_FAILED_VERIFICATION);
        const auto failure = client.failure(rc);
        QVERIFY(failure);
        QCOMPARE(failure->error, std::uint32_t(error));
        QVERIFY(!failure->responseText.empty());
        // The handshake failed after AUTH TLS: nothing of the login went out.
        const QStringList commands = server.commands();
        QCOMPARE(commands, QStringList{QStringLiteral("AUTH TLS")});
    }

    void selfSignedTrustedThroughTheCaFile()
    {
        SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(), server.password());
        QCOMPARE(client.list(QStringLiteral("/")), CURLE_PEER_FAILED_VERIFICATION);
        // The operator fetches the certificate into ftp-ca.pem; the next request on the
        // same session trusts it, without a restart.
        QVERIFY(writeFile(caFile(), server.certificatePem()));
        QCOMPARE(client.list(QStringLiteral("/")), CURLE_OK);
        // By name too: the certificate names localhost as well as the address.
        Client byName(QStringLiteral("ftpes://localhost:%1").arg(server.port()).toUtf8(), server.user(),
                      server.password());
        QCOMPARE(byName.list(QStringLiteral("/")), CURLE_OK);
    }

    void caFileAddsToTheSystemStore()
    {
        SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        // Two servers: one certificate stands in for the system's store (a CA folder
        // as /etc/ssl/certs is), the other is in ftp-ca.pem. Both must be trusted.
        FtpsTestServer system;
        FtpsTestServer own;
        QVERIFY(system.start());
        QVERIFY(own.start());
        QTemporaryDir store;
        QVERIFY(QFile::copy(system.certificatePath(), store.filePath(QStringLiteral("system.pem"))));
        QProcess rehash;
        rehash.start(QStringLiteral("openssl"), {QStringLiteral("rehash"), store.path()});
        QVERIFY(rehash.waitForFinished(20000) && rehash.exitCode() == 0);
        QVERIFY(writeFile(caFile(), own.certificatePem()));

        for (FtpsTestServer* server : {&system, &own}) {
            const auto address = *parseServerAddress(server->serverName().toStdString(), 0);
            SecureChannel channel(address);
            std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
            const std::string url = ftpUrl(address, "/");
            const std::string user = server->user().toStdString();
            const std::string password = server->password().toStdString();
            QByteArray sink;
            curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
            curl_easy_setopt(curl.get(), CURLOPT_USERNAME, user.c_str());
            curl_easy_setopt(curl.get(), CURLOPT_PASSWORD, password.c_str());
            curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, 10L);
            curl_easy_setopt(curl.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 10L);
            curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
            curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
            const std::string storePath = store.path().toStdString();
            curl_easy_setopt(curl.get(), CURLOPT_CAPATH, storePath.c_str());
            channel.apply(curl.get(), 10);
            QCOMPARE(curl_easy_perform(curl.get()), CURLE_OK);
        }
    }

    void unreadableCaFileRefuses()
    {
        SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.start());
        QVERIFY(writeFile(caFile(), "this is not a certificate\n"));
        Client client(server.serverName(), server.user(), server.password());
        const CURLcode rc = client.list(QStringLiteral("/"));
        QVERIFY(rc != CURLE_OK);
        const auto failure = client.failure(rc);
        QVERIFY(failure);
        QCOMPARE(failure->error, ERROR_INTERNET_INVALID_CA);
        QVERIFY(!sentLogin(server.commands()));
    }

    void tlsLoginRefusalIsTheServersReply()
    {
        SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.start());
        QVERIFY(writeFile(caFile(), server.certificatePem()));
        Client client(server.serverName(), server.user(), QStringLiteral("wrong"));
        const CURLcode rc = client.list(QStringLiteral("/"));
        QCOMPARE(rc, CURLE_LOGIN_DENIED);
        // A 530 is an FTP reply like any other: the caller's to map, as without TLS.
        QVERIFY(!client.failure(rc));
        QVERIFY(server.replies().contains(QStringLiteral("530 Login incorrect.")));
    }

    // ---- SFTP ---------------------------------------------------------------------------

    void unknownHostKeyIsRecordedThenKnown()
    {
        SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.writeFile(QStringLiteral("pub/old.jpg"), "old"));
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(), server.password());
        QByteArray listing;
        QCOMPARE(client.list(QStringLiteral("/pub"), &listing), CURLE_OK);
        QVERIFY2(listing.contains(" old.jpg"), listing.constData());
        // One line in OpenSSH's form, with the port, for the key the server has.
        QCOMPARE(QString::fromUtf8(readFile(knownHosts())),
                 server.knownHostsName() + QLatin1Char(' ') + server.hostKey() + QLatin1Char('\n'));
        QCOMPARE(QString::fromStdString(client.channel().knownHostsName()), server.knownHostsName());

        // A new session finds it known, and the file stays as it was.
        Client again(server.serverName(), server.user(), server.password());
        const QByteArray image = randomBytes(1 << 20);
        QCOMPARE(again.upload(QStringLiteral("/pub"), QStringLiteral("10.jpg"), image), CURLE_OK);
        QCOMPARE(readFile(server.path(QStringLiteral("pub/10.jpg"))), image);
        QCOMPARE(readFile(knownHosts()).count('\n'), 1);
    }

    void changedHostKeyIsRefusedBeforeThePassword()
    {
        SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        {
            Client first(server.serverName(), server.user(), server.password());
            QCOMPARE(first.list(QStringLiteral("/")), CURLE_OK);
        }
        const QByteArray recorded = readFile(knownHosts());
        const QString oldKey = server.hostKey();
        QVERIFY(server.changeHostKey());
        QVERIFY(server.hostKey() != oldKey);
        server.clearEvents();

        Client client(server.serverName(), server.user(), server.password());
        const CURLcode rc = client.upload(QStringLiteral("/pub"), QStringLiteral("10.jpg"), "image");
        QCOMPARE(rc, CURLE_PEER_FAILED_VERIFICATION);
        const auto failure = client.failure(rc);
        QVERIFY(failure);
        QCOMPARE(failure->error, ERROR_INTERNET_SEC_INVALID_CERT);
        const QString text = QString::fromStdString(failure->responseText);
        QVERIFY2(text.contains(server.knownHostsName()) && text.contains(QLatin1String("SHA256:")), qPrintable(text));
        // The server saw a connection and nothing else: no password, no file.
        const QStringList events = server.events();
        QVERIFY2(events.filter(QStringLiteral("auth")).isEmpty(), qPrintable(events.join(" | ")));
        QVERIFY(!QFile::exists(server.path(QStringLiteral("pub/10.jpg"))));
        QCOMPARE(readFile(knownHosts()), recorded);
    }

    void hostKeysNeedATrustFolder()
    {
        SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.start());
        SetTrustFolder({});
        Client client(server.serverName(), server.user(), server.password());
        const CURLcode rc = client.list(QStringLiteral("/"));
        QCOMPARE(rc, CURLE_PEER_FAILED_VERIFICATION);
        const auto failure = client.failure(rc);
        QVERIFY(failure);
        QCOMPARE(failure->error, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        QVERIFY(server.events().filter(QStringLiteral("auth")).isEmpty());
    }

    void recordedLineStartsOnItsOwnLine()
    {
        SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.start());
        // An operator's file whose last line has no line end.
        QVERIFY(writeFile(knownHosts(), "other.example ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIA"));
        Client client(server.serverName(), server.user(), server.password());
        QCOMPARE(client.list(QStringLiteral("/")), CURLE_OK);
        const QStringList lines = QString::fromUtf8(readFile(knownHosts())).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], server.knownHostsName() + QLatin1Char(' ') + server.hostKey());
        QVERIFY(lines[2].isEmpty());
    }

    void hostKeyOnIpv6AndPortFormsOfTheName()
    {
        SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServerOptions o;
        o.ipv6 = true;
        SftpTestServer server(o);
        if (!server.start())
            QSKIP("no ::1 here");
        Client client(server.serverName(), server.user(), server.password());
        QCOMPARE(client.list(QStringLiteral("/")), CURLE_OK);
        QVERIFY(readFile(knownHosts()).startsWith(QStringLiteral("[::1]:%1 ssh-ed25519 ").arg(server.port()).toUtf8()));
        // A name typed in capitals is the same server and finds the same line.
        QVERIFY(writeFile(knownHosts(),
                          QStringLiteral("[localhost]:%1 %2\n").arg(server.port()).arg(server.hostKey()).toUtf8()));
        Client byName(QStringLiteral("sftp://LOCALHOST:%1").arg(server.port()).toUtf8(), server.user(),
                      server.password());
        const CURLcode rc = byName.list(QStringLiteral("/"));
        if (rc == CURLE_COULDNT_CONNECT)
            QSKIP("localhost does not resolve to ::1 here");
        QCOMPARE(rc, CURLE_OK);
        QCOMPARE(readFile(knownHosts()).count('\n'), 1);
    }

    void sftpRefusalsReadLikeFtpReplies_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("responseCode");
        QTest::addColumn<QString>("text");
        QTest::newRow("wrong password") << "password" << 530 << "Authentication failure";
        QTest::newRow("missing folder") << "missing" << 550 << "No such file";
        QTest::newRow("forbidden folder") << "forbidden" << 550 << "Permission denied";
        QTest::newRow("read-only folder") << "readonly" << 550 << "Permission denied";
        QTest::newRow("rename refused") << "rename" << 550 << "Permission denied";
    }
    void sftpRefusalsReadLikeFtpReplies()
    {
        SKIP_UNLESS_AVAILABLE(SftpTestServer);
        QFETCH(QString, what);
        QFETCH(int, responseCode);
        QFETCH(QString, text);
        SftpTestServerOptions o;
        o.forbiddenDirs << QStringLiteral("secret");
        o.readonlyDirs << QStringLiteral("ro");
        SftpTestServer server(o);
        QVERIFY(server.writeFile(QStringLiteral("pub/10.jpg"), "image"));
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(),
                      what == QLatin1String("password") ? QStringLiteral("wrong") : server.password());
        CURLcode rc = CURLE_OK;
        if (what == QLatin1String("password"))
            rc = client.list(QStringLiteral("/"));
        else if (what == QLatin1String("missing"))
            rc = client.list(QStringLiteral("/nowhere"));
        else if (what == QLatin1String("forbidden"))
            rc = client.list(QStringLiteral("/secret"));
        else if (what == QLatin1String("readonly"))
            rc = client.upload(QStringLiteral("/ro"), QStringLiteral("10.jpg"), "image");
        else
            rc = client.quote(QStringLiteral("/pub"), {QStringLiteral("rename /pub/10.jpg /ro/10.jpg")});
        QVERIFY(rc != CURLE_OK);
        const auto failure = client.failure(rc);
        QVERIFY2(failure, curl_easy_strerror(rc));
        QCOMPARE(failure->error, ERROR_INTERNET_EXTENDED_ERROR);
        QCOMPARE(failure->responseCode, responseCode);
        QVERIFY2(QString::fromStdString(failure->responseText).contains(text), failure->responseText.c_str());
    }

    void renameWithAwkwardNames()
    {
        SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("pub cam")));
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(), server.password());
        const QString folder = QStringLiteral("/pub cam");
        QCOMPARE(client.upload(folder, QStringLiteral("10 \"x\".tmp"), "image"), CURLE_OK);
        const QString from = QString::fromStdString(sftpQuoted("/pub cam/10 \"x\".tmp"));
        const QString to = QString::fromStdString(sftpQuoted("/pub cam/10\\y.jpg"));
        QCOMPARE(client.quote(folder, {QStringLiteral("rename ") + from + QLatin1Char(' ') + to}), CURLE_OK);
        QCOMPARE(readFile(server.path(QStringLiteral("pub cam/10\\y.jpg"))), QByteArray("image"));
        QVERIFY(!QFile::exists(server.path(QStringLiteral("pub cam/10 \"x\".tmp"))));
    }

    void silentSshServerIsBounded_data()
    {
        QTest::addColumn<QString>("stall");
        QTest::newRow("login") << "auth";
        QTest::newRow("start folder") << "realpath";
        QTest::newRow("listing") << "opendir";
        QTest::newRow("upload") << "open";
    }
    void silentSshServerIsBounded()
    {
        SKIP_UNLESS_AVAILABLE(SftpTestServer);
        QFETCH(QString, stall);
        SftpTestServerOptions o;
        o.stall = stall;
        SftpTestServer server(o);
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(), server.password());
        client.stallSeconds = 3;
        QElapsedTimer clock;
        clock.start();
        const CURLcode rc = stall == QLatin1String("open")
                                ? client.upload(QStringLiteral("/pub"), QStringLiteral("10.jpg"), "image")
                                : client.list(QStringLiteral("/pub"));
        const qint64 ms = clock.elapsed();
        QVERIFY(rc != CURLE_OK);
        // Each stage waits its own bound, never libssh2's 60 s.
        QVERIFY2(ms < 12000, qPrintable(QStringLiteral("%1 ms").arg(ms)));
        const auto failure = client.failure(rc);
        if (failure) // the login stages end on libcurl's own timeouts, the caller maps those
            QCOMPARE(failure->error, ERROR_INTERNET_TIMEOUT);
        else
            QCOMPARE(rc, CURLE_OPERATION_TIMEDOUT);
    }
};

QTEST_GUILESS_MAIN(TestSecureOptions)
#include "test_secureoptions.moc"
