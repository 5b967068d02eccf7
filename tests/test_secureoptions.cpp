// The secure side of a connection against real servers: vsftpd for FTP over TLS and
// asyncssh for SFTP, each started here on loopback. The program's own connection runs
// the requests and the test reads back what reached the server: trust is settled before
// any password leaves, and every refusal carries the reason the operator is told.

#include "core/ftp/ftpConnection.h"
#include "core/ftp/knownHosts.h"
#include "core/ftp/pinnedKeys.h"
#include "core/ftp/secureOptions.h"
#include "core/ftp/serverAddress.h"
#include "core/ftp/serverProbe.h"

#include "ftpstestserver.h"
#include "sftptestserver.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageAuthenticationCode>
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

size_t collect(char* p, size_t size, size_t n, void* out)
{
    static_cast<QByteArray*>(out)->append(p, static_cast<qsizetype>(size * n));
    return size * n;
}

// One session's connection: the program's own, logged in on its first request as the
// WinInet layer logs it in, answering with what the layer would make of each request.
class Client {
public:
    Client(const QByteArray& serverName, const QString& user, const QString& password)
    {
        FtpConnectionSettings settings;
        settings.server = *parseServerAddress(serverName.toStdString(), 0);
        settings.user = user.toStdString();
        settings.password = password.toStdString();
        m_connection = FtpConnection::create(std::move(settings));
    }

    FtpResult list(const QString& folder, QStringList* names = nullptr)
    {
        FtpResult result = inFolder(folder);
        if (!result.ok())
            return result;
        std::vector<FtpListEntry> entries;
        result = m_connection->list(entries);
        for (const FtpListEntry& e : entries)
            if (names)
                names->append(QString::fromStdString(e.name));
        return result;
    }

    FtpResult upload(const QString& folder, const QString& name, const QByteArray& data)
    {
        const QString local = m_files.filePath(QStringLiteral("upload"));
        if (!writeFile(local, data)) {
            FtpResult notWritten;
            notWritten.status = FtpStatus::LocalFileMissing;
            return notWritten;
        }
        FtpResult result = inFolder(folder);
        return result.ok() ? m_connection->put(local.toStdString(), name.toStdString(), false) : result;
    }

    FtpResult rename(const QString& from, const QString& to)
    {
        FtpResult result = loggedIn();
        return result.ok() ? m_connection->rename(from.toStdString(), to.toStdString()) : result;
    }

private:
    FtpResult loggedIn()
    {
        if (m_loggedIn)
            return {};
        FtpResult result = m_connection->login();
        m_loggedIn = result.ok();
        return result;
    }
    FtpResult inFolder(const QString& folder)
    {
        FtpResult result = loggedIn();
        return result.ok() ? m_connection->changeFolder(folder.toStdString()) : result;
    }

    std::unique_ptr<FtpConnection> m_connection;
    bool m_loggedIn = false;
    QTemporaryDir m_files;
};

// A refusal that reached the operator as the layer makes it: its reason and its words.
void expectRefused(const FtpResult& result, FailureReason reason)
{
    QVERIFY2(!result.ok(), "the request went through");
    QVERIFY2(result.reason, result.libraryError.c_str());
    QCOMPARE(int(*result.reason), int(reason));
    QVERIFY(!result.reply.text.empty());
}

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
        setTrustFolder(m_trust.path().toStdString());
    }
    void cleanupTestCase()
    {
        setTrustFolder({});
        curl_global_cleanup();
    }

    void certificatesAreReadAgainOnlyWhenChanged()
    {
        // A libcurl without a CA folder gets the system's bundle and ftp-ca.pem as one
        // text, read once and again only after one of them changed.
        QTemporaryDir dir;
        const QString system = dir.filePath("system.pem"), own = dir.filePath("ftp-ca.pem");
        QVERIFY(writeFile(system, "SYSTEM") && writeFile(own, "OWN"));
        const auto first = trustedCertificates(system.toStdString(), own.toStdString());
        QCOMPARE(*first, std::string("SYSTEM\nOWN\n"));
        QCOMPARE(trustedCertificates(system.toStdString(), own.toStdString()), first);
        QVERIFY(writeFile(own, "OWN, renewed"));
        const auto second = trustedCertificates(system.toStdString(), own.toStdString());
        QVERIFY(second != first);
        QCOMPARE(*second, std::string("SYSTEM\nOWN, renewed\n"));
        QVERIFY(QFile::remove(system));
        QCOMPARE(*trustedCertificates(system.toStdString(), own.toStdString()), std::string("\nOWN, renewed\n"));
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
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
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
        QStringList listing;
        QVERIFY(client.list(QStringLiteral("/pub"), &listing).ok());
        QVERIFY2(listing.contains("old.jpg"), qPrintable(listing.join(" ")));
        const QByteArray image = randomBytes(1 << 20);
        for (const char* name : {"10.jpg", "11.jpg", "12.jpg"}) {
            QVERIFY(client.upload(QStringLiteral("/pub"), QString::fromLatin1(name), image).ok());
            QCOMPARE(readFile(server.path(QStringLiteral("pub/") + QLatin1String(name))), image);
        }
        listing.clear();
        QVERIFY(client.list(QStringLiteral("/pub"), &listing).ok());
        QVERIFY2(listing.contains("12.jpg"), qPrintable(listing.join(" ")));

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
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServerOptions o;
        o.tls = FtpsTestServerOptions::Tls::Off;
        FtpsTestServer server(o);
        QVERIFY(server.start());
        const QByteArray name = "ftpes://" + server.address();
        Client client(name, server.user(), server.password());
        expectRefused(client.list(QStringLiteral("/")), FailureReason::Channel);
        const QStringList commands = server.commands();
        QVERIFY2(commands.contains(QStringLiteral("AUTH TLS")), qPrintable(commands.join(" | ")));
        QVERIFY2(!sentLogin(commands), qPrintable(commands.join(" | ")));
    }

    void certificateRefusals_data()
    {
        QTest::addColumn<int>("certificate");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("reason");
        QTest::newRow("self-signed, not trusted") << int(FtpsTestServerOptions::Certificate::Good) << false
                                                  << "127.0.0.1" << int(FailureReason::UnknownAuthority);
        QTest::newRow("expired") << int(FtpsTestServerOptions::Certificate::Expired) << true << "127.0.0.1"
                                 << int(FailureReason::CertificateDate);
        QTest::newRow("another name") << int(FtpsTestServerOptions::Certificate::WrongName) << true << "127.0.0.1"
                                      << int(FailureReason::CertificateName);
        QTest::newRow("another name, by name") << int(FtpsTestServerOptions::Certificate::WrongName) << true
                                               << "localhost" << int(FailureReason::CertificateName);
    }
    void certificateRefusals()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        QFETCH(int, certificate);
        QFETCH(bool, trusted);
        QFETCH(QString, host);
        QFETCH(int, reason);
        FtpsTestServerOptions o;
        o.certificate = FtpsTestServerOptions::Certificate(certificate);
        FtpsTestServer server(o);
        QVERIFY(server.start());
        if (trusted)
            QVERIFY(writeFile(caFile(), server.certificatePem()));
        Client client(QStringLiteral("ftpes://%1:%2").arg(host).arg(server.port()).toUtf8(), server.user(),
                      server.password());
        expectRefused(client.list(QStringLiteral("/")), FailureReason(reason));
        // The handshake failed after AUTH TLS, and the certificate was read after
        // another: nothing of the login went out.
        const QStringList commands = server.commands();
        QCOMPARE(QSet<QString>(commands.begin(), commands.end()), QSet<QString>{QStringLiteral("AUTH TLS")});
    }

    void selfSignedTrustedThroughTheCaFile()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(), server.password());
        expectRefused(client.list(QStringLiteral("/")), FailureReason::UnknownAuthority);
        // The operator fetches the certificate into ftp-ca.pem; the next request on the
        // same connection trusts it, without a restart.
        QVERIFY(writeFile(caFile(), server.certificatePem()));
        QVERIFY(client.list(QStringLiteral("/")).ok());
        // By name too: the certificate names localhost as well as the address.
        Client byName(QStringLiteral("ftpes://localhost:%1").arg(server.port()).toUtf8(), server.user(),
                      server.password());
        QVERIFY(byName.list(QStringLiteral("/")).ok());
    }

    void caFileAddsToTheSystemStore()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
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
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.start());
        QVERIFY(writeFile(caFile(), "this is not a certificate\n"));
        Client client(server.serverName(), server.user(), server.password());
        expectRefused(client.list(QStringLiteral("/")), FailureReason::UnknownAuthority);
        QVERIFY(!sentLogin(server.commands()));
    }

    void tlsLoginRefusalIsTheServersReply()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.start());
        QVERIFY(writeFile(caFile(), server.certificatePem()));
        Client client(server.serverName(), server.user(), QStringLiteral("wrong"));
        const FtpResult result = client.list(QStringLiteral("/"));
        // A 530 is an FTP reply like any other, as without TLS: no secure reason.
        QCOMPARE(int(result.status), int(FtpStatus::Refused));
        QVERIFY(!result.reason);
        QCOMPARE(result.reply.code, 530);
        QVERIFY(server.replies().contains(QStringLiteral("530 Login incorrect.")));
    }

    // ---- Trusting a server by its key ----------------------------------------------------

    // A refused certificate is read again on a connection that ends with the handshake,
    // and is what openssl reads: nothing of a login has gone out.
    void refusedCertificateIsReadWithoutALogin_data()
    {
        QTest::addColumn<int>("tls");
        QTest::addColumn<int>("certificate");
        QTest::addColumn<int>("standing");
        QTest::addColumn<QString>("name");
        QTest::newRow("ftpes, self-signed")
            << int(FtpsTestServerOptions::Tls::Explicit) << int(FtpsTestServerOptions::Certificate::Good)
            << int(ServerIdentity::Standing::NotVouchedFor) << "localhost";
        QTest::newRow("ftpes, another name")
            << int(FtpsTestServerOptions::Tls::Explicit) << int(FtpsTestServerOptions::Certificate::WrongName)
            << int(ServerIdentity::Standing::OtherName) << "wrong.example";
        QTest::newRow("ftps, expired") << int(FtpsTestServerOptions::Tls::Implicit)
                                       << int(FtpsTestServerOptions::Certificate::Expired)
                                       << int(ServerIdentity::Standing::OutOfDate) << "localhost";
    }
    void refusedCertificateIsReadWithoutALogin()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        QFETCH(int, tls);
        QFETCH(int, certificate);
        QFETCH(int, standing);
        QFETCH(QString, name);
        FtpsTestServerOptions o;
        o.tls = FtpsTestServerOptions::Tls(tls);
        o.certificate = FtpsTestServerOptions::Certificate(certificate);
        FtpsTestServer server(o);
        QVERIFY(server.start());
        // Through ftp-ca.pem its authority is trusted, and only the name or the date is wrong.
        if (o.certificate != FtpsTestServerOptions::Certificate::Good)
            QVERIFY(writeFile(caFile(), server.certificatePem()));
        Client client(server.serverName(), server.user(), server.password());
        const FtpResult result = client.list(QStringLiteral("/"));
        QVERIFY2(result.offered, result.libraryError.c_str());
        const ServerIdentity& offered = *result.offered;
        QCOMPARE(int(offered.standing), standing);
        QCOMPARE(offered.fingerprint, server.fingerprint());
        QCOMPARE(offered.pin, server.publicKeyPin());
        QVERIFY(offered.certificate);
        QVERIFY2(offered.certificate->names.contains(name), qPrintable(offered.certificate->names.join(" ")));
        QVERIFY(offered.certificate->subject.startsWith(QStringLiteral("O=Skylark test ")));
        QCOMPARE(offered.certificate->issuer, offered.certificate->subject);
        QVERIFY(offered.certificate->notBefore < offered.certificate->notAfter);
        // The refused login's AUTH TLS and the reading's: nothing else.
        const QStringList expected = o.tls == FtpsTestServerOptions::Tls::Explicit
                                         ? QStringList{QStringLiteral("AUTH TLS"), QStringLiteral("AUTH TLS")}
                                         : QStringList();
        QCOMPARE(server.commands(), expected);
    }

    // A pinned server is accepted by its key, whatever its certificate's name and
    // authority, and refused for any other key, before the login.
    void pinnedKeyIsTheCheck()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServerOptions o;
        o.certificate = FtpsTestServerOptions::Certificate::WrongName;
        FtpsTestServer pinned(o);
        FtpsTestServer other(o);
        QVERIFY(pinned.makeDir(QStringLiteral("pub")) && pinned.start() && other.start());
        const auto address = [](const FtpsTestServer& s) {
            return *parseServerAddress(s.serverName().toStdString(), 0);
        };
        const std::string pin = pinned.publicKeyPin().toStdString();
        QVERIFY(pinKey(address(pinned), {pin, pinned.fingerprint().toStdString()}));
        QVERIFY(pinKey(address(other), {pin, pinned.fingerprint().toStdString()}));
        QCOMPARE(pinnedKeysOf(address(pinned)).size(), std::size_t(1));

        Client client(pinned.serverName(), pinned.user(), pinned.password());
        QVERIFY(client.upload(QStringLiteral("/pub"), QStringLiteral("10.jpg"), "image").ok());
        QCOMPARE(readFile(pinned.path(QStringLiteral("pub/10.jpg"))), QByteArray("image"));

        Client impostor(other.serverName(), other.user(), other.password());
        const FtpResult result = impostor.list(QStringLiteral("/"));
        expectRefused(result, FailureReason::HostKeyChanged);
        QVERIFY(result.offered);
        QCOMPARE(int(result.offered->standing), int(ServerIdentity::Standing::Changed));
        QCOMPARE(result.offered->fingerprint, other.fingerprint());
        QCOMPARE(result.offered->trustedFingerprint, pinned.fingerprint());
        QVERIFY(!sentLogin(other.commands()));
    }

    // The pin file is written by hand too: what cannot be read is passed over, never
    // read as a pin.
    void pinFileReadsWhatItCan_data()
    {
        const QByteArray pin = "sha256//" + QByteArray(32, '\x5a').toBase64();
        const QByteArray print = QByteArray(32, '\xab').toHex(':').toUpper();
        const QByteArray line = "cam.example.jp:21 " + pin + " " + print;
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("pins");
        QTest::addColumn<bool>("fingerprint");
        QTest::newRow("as written") << line + "\n" << 1 << true;
        QTest::newRow("Notepad: BOM, CR LF, no last line end") << "\xEF\xBB\xBF# note\r\n" + line << 1 << true;
        QTest::newRow("tabs, capitals") << "\tCAM.Example.JP:21\t" + pin + "\t\t" + print.toLower() + "\n" << 1 << true;
        QTest::newRow("a note instead of the fingerprint") << "cam.example.jp:21 " + pin + " renewed in May\n"
                                                           << 1 << false;
        QTest::newRow("two lines") << line + "\n" + line + "\n" << 2 << true;
        QTest::newRow("commented out") << "#" + line + "\n" << 0 << false;
        QTest::newRow("no port") << "cam.example.jp " + pin + "\n" << 0 << false;
        QTest::newRow("another port") << "cam.example.jp:990 " + pin + "\n" << 0 << false;
        QTest::newRow("no pin") << QByteArray("cam.example.jp:21\n") << 0 << false;
        QTest::newRow("pin cut short") << "cam.example.jp:21 " + pin.left(40) + "\n" << 0 << false;
        QTest::newRow("pin not base64") << "cam.example.jp:21 sha256//" + QByteArray(43, '!') + "=\n" << 0 << false;
        QTest::newRow("another hash") << "cam.example.jp:21 sha1//" + pin.mid(8) + "\n" << 0 << false;
        QTest::newRow("binary") << QByteArray("cam.example.jp:21 \0\xff\x01 sha256//\n\0\0", 27) << 0 << false;
    }
    void pinFileReadsWhatItCan()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, pins);
        QFETCH(bool, fingerprint);
        const auto keys = pinnedKeysIn(text.toStdString(), "cam.example.jp:21");
        QCOMPARE(int(keys.size()), pins);
        for (const PinnedKey& key : keys) {
            QCOMPARE(key.pin.size(), std::size_t(52));
            QCOMPARE(key.fingerprint.empty(), !fingerprint);
        }
        // Pinning anew leaves one line for the server and every other line as it was.
        const std::string written = withPinnedKey(text.toStdString(), "cam.example.jp:21", {"sha256//new", "AB"});
        const auto rewritten = QString::fromStdString(written).split(QLatin1Char('\n'));
        QCOMPARE(rewritten.filter(QStringLiteral("sha256//new")), QStringList{"cam.example.jp:21 sha256//new AB"});
        QCOMPARE(pinnedKeysIn(written, "cam.example.jp:21").size(), std::size_t(0)); // "sha256//new" is no pin
        QCOMPARE(pinnedKeysIn(written, "other.example:21").size(), std::size_t(0));
        // A new file says what it holds.
        QVERIFY(withPinnedKey({}, "cam.example.jp:21", {"sha256//new", ""}).starts_with("# "));
    }

    void hostKeyReplacesOnlyTheServersName()
    {
        // OpenSSH's hashed form of "[127.0.0.1]:2222": "|1|" salt "|" HMAC-SHA1.
        const QByteArray salt("0123456789abcdefghij");
        const QByteArray hashed =
            "|1|" + salt.toBase64() + "|" +
            QMessageAuthenticationCode::hash("[127.0.0.1]:2222", salt, QCryptographicHash::Sha1).toBase64();
        const std::string text = "# mine\n"
                                 "[127.0.0.1]:2222 ssh-ed25519 OLD\n"
                                 "other.example,[127.0.0.1]:2222 ssh-rsa OLD2\n" +
                                 hashed.toStdString() + " ssh-ed25519 OLD3\n" + "[127.0.0.1]:22222 ssh-ed25519 KEEP\n";
        QCOMPARE(withHostKey(text, "[127.0.0.1]:2222", "[127.0.0.1]:2222 ssh-ed25519 NEW"),
                 std::string("# mine\n"
                             "other.example ssh-rsa OLD2\n"
                             "[127.0.0.1]:22222 ssh-ed25519 KEEP\n"
                             "[127.0.0.1]:2222 ssh-ed25519 NEW\n"));
    }

    // An SSH server's key is looked at on a connection that ends with the key exchange:
    // new, known or changed, and never a login.
    void hostKeyIsLookedAtWithoutALogin()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.start());
        const ServerAddress address = *parseServerAddress(server.serverName().toStdString(), 0);
        std::string why;
        const auto fresh = lookAtHostKey(address, &why);
        QVERIFY2(fresh, why.c_str());
        QCOMPARE(int(fresh->standing), int(ServerIdentity::Standing::New));
        QCOMPARE(fresh->fingerprint, server.hostKeyFingerprint());
        QVERIFY(!QFile::exists(knownHosts()));

        const QString oldFingerprint = server.hostKeyFingerprint();
        QVERIFY(trustIdentity(*fresh));
        QVERIFY(!lookAtHostKey(address, &why));
        QVERIFY2(why.empty(), why.c_str());

        QVERIFY(server.changeHostKey());
        const auto changed = lookAtHostKey(address, &why);
        QVERIFY2(changed, why.c_str());
        QCOMPARE(int(changed->standing), int(ServerIdentity::Standing::Changed));
        QCOMPARE(changed->fingerprint, server.hostKeyFingerprint());
        QCOMPARE(changed->trustedFingerprint, oldFingerprint);
        QVERIFY2(server.events().filter(QStringLiteral("auth")).isEmpty(), qPrintable(server.events().join(" | ")));
    }

    // ---- SFTP ---------------------------------------------------------------------------

    void unknownHostKeyIsRecordedThenKnown()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.writeFile(QStringLiteral("pub/old.jpg"), "old"));
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(), server.password());
        QStringList listing;
        QVERIFY(client.list(QStringLiteral("/pub"), &listing).ok());
        QVERIFY2(listing.contains("old.jpg"), qPrintable(listing.join(" ")));
        // One line in OpenSSH's form, with the port, for the key the server has.
        QCOMPARE(QString::fromUtf8(readFile(knownHosts())),
                 server.knownHostsName() + QLatin1Char(' ') + server.hostKey() + QLatin1Char('\n'));
        const SecureChannel channel(*parseServerAddress(server.serverName().toStdString(), 0));
        QCOMPARE(QString::fromStdString(channel.knownHostsName()), server.knownHostsName());

        // A new session finds it known, and the file stays as it was.
        Client again(server.serverName(), server.user(), server.password());
        const QByteArray image = randomBytes(1 << 20);
        QVERIFY(again.upload(QStringLiteral("/pub"), QStringLiteral("10.jpg"), image).ok());
        QCOMPARE(readFile(server.path(QStringLiteral("pub/10.jpg"))), image);
        QCOMPARE(readFile(knownHosts()).count('\n'), 1);
    }

    void changedHostKeyIsRefusedBeforeThePassword()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        {
            Client first(server.serverName(), server.user(), server.password());
            QVERIFY(first.list(QStringLiteral("/")).ok());
        }
        const QByteArray recorded = readFile(knownHosts());
        const QString oldKey = server.hostKey();
        QVERIFY(server.changeHostKey());
        QVERIFY(server.hostKey() != oldKey);
        server.clearEvents();

        Client client(server.serverName(), server.user(), server.password());
        const FtpResult result = client.upload(QStringLiteral("/pub"), QStringLiteral("10.jpg"), "image");
        expectRefused(result, FailureReason::HostKeyChanged);
        const QString text = QString::fromStdString(result.reply.text);
        QVERIFY2(text.contains(server.knownHostsName()) && text.contains(QLatin1String("SHA256:")), qPrintable(text));
        // The server saw a connection and nothing else: no password, no file.
        const QStringList events = server.events();
        QVERIFY2(events.filter(QStringLiteral("auth")).isEmpty(), qPrintable(events.join(" | ")));
        QVERIFY(!QFile::exists(server.path(QStringLiteral("pub/10.jpg"))));
        QCOMPARE(readFile(knownHosts()), recorded);
    }

    void hostKeysNeedATrustFolder()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.start());
        setTrustFolder({});
        Client client(server.serverName(), server.user(), server.password());
        expectRefused(client.list(QStringLiteral("/")), FailureReason::Channel);
        QVERIFY(server.events().filter(QStringLiteral("auth")).isEmpty());
    }

    void recordedLineStartsOnItsOwnLine()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.start());
        // An operator's file whose last line has no line end.
        QVERIFY(writeFile(knownHosts(), "other.example ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIA"));
        Client client(server.serverName(), server.user(), server.password());
        QVERIFY(client.list(QStringLiteral("/")).ok());
        const QStringList lines = QString::fromUtf8(readFile(knownHosts())).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], server.knownHostsName() + QLatin1Char(' ') + server.hostKey());
        QVERIFY(lines[2].isEmpty());
    }

    void hostKeyOnIpv6AndPortFormsOfTheName()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServerOptions o;
        o.ipv6 = true;
        SftpTestServer server(o);
        if (!server.start())
            QSKIP("no ::1 here");
        Client client(server.serverName(), server.user(), server.password());
        QVERIFY(client.list(QStringLiteral("/")).ok());
        QVERIFY(readFile(knownHosts()).startsWith(QStringLiteral("[::1]:%1 ssh-ed25519 ").arg(server.port()).toUtf8()));
        // A name typed in capitals is the same server and finds the same line.
        QVERIFY(writeFile(knownHosts(),
                          QStringLiteral("[localhost]:%1 %2\n").arg(server.port()).arg(server.hostKey()).toUtf8()));
        Client byName(QStringLiteral("sftp://LOCALHOST:%1").arg(server.port()).toUtf8(), server.user(),
                      server.password());
        const FtpResult result = byName.list(QStringLiteral("/"));
        if (result.status == FtpStatus::CannotConnect)
            QSKIP("localhost does not resolve to ::1 here");
        QVERIFY(result.ok());
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
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        QFETCH(QString, what);
        QFETCH(int, responseCode);
        QFETCH(QString, text);
        SftpTestServerOptions o;
        o.forbiddenDirs << QStringLiteral("secret");
        o.readonlyDirs << QStringLiteral("ro");
        SftpTestServer server(o);
        QVERIFY(server.writeFile(QStringLiteral("pub/10.jpg"), "image"));
        QVERIFY(server.makeDir(QStringLiteral("ro")));
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(),
                      what == QLatin1String("password") ? QStringLiteral("wrong") : server.password());
        FtpResult result;
        if (what == QLatin1String("password"))
            result = client.list(QStringLiteral("/"));
        else if (what == QLatin1String("missing"))
            result = client.list(QStringLiteral("/nowhere"));
        else if (what == QLatin1String("forbidden"))
            result = client.list(QStringLiteral("/secret"));
        else if (what == QLatin1String("readonly"))
            result = client.upload(QStringLiteral("/ro"), QStringLiteral("10.jpg"), "image");
        else
            result = client.rename(QStringLiteral("/pub/10.jpg"), QStringLiteral("/ro/10.jpg"));
        expectRefused(result, what == QLatin1String("password") ? FailureReason::LoginRefused : FailureReason::Refused);
        QCOMPARE(int(result.status), int(FtpStatus::Refused));
        QCOMPARE(result.reply.code, responseCode);
        QVERIFY2(QString::fromStdString(result.reply.text).contains(text), result.reply.text.c_str());
    }

    void renameWithAwkwardNames()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("pub cam")));
        QVERIFY(server.start());
        Client client(server.serverName(), server.user(), server.password());
        const QString folder = QStringLiteral("/pub cam");
        QVERIFY(client.upload(folder, QStringLiteral("10 \"x\".tmp"), "image").ok());
        // (A backslash never gets this far: the layer takes it for a slash.)
        QVERIFY(client.rename(QStringLiteral("/pub cam/10 \"x\".tmp"), QStringLiteral("/pub cam/10 'y\".jpg")).ok());
        QCOMPARE(readFile(server.path(QStringLiteral("pub cam/10 'y\".jpg"))), QByteArray("image"));
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
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        QFETCH(QString, stall);
        SftpTestServerOptions o;
        o.stall = stall;
        SftpTestServer server(o);
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        setFtpBounds({3, 3, 3});
        Client client(server.serverName(), server.user(), server.password());
        QElapsedTimer clock;
        clock.start();
        const FtpResult result = stall == QLatin1String("open")
                                     ? client.upload(QStringLiteral("/pub"), QStringLiteral("10.jpg"), "image")
                                     : client.list(QStringLiteral("/pub"));
        const qint64 ms = clock.elapsed();
        setFtpBounds(FtpBounds{});
        // Each stage waits its own bound, never libssh2's 60 s, and says it timed out.
        QVERIFY2(ms < 12000, qPrintable(QStringLiteral("%1 ms").arg(ms)));
        QCOMPARE(int(result.status), int(FtpStatus::TimedOut));
    }
};

QTEST_GUILESS_MAIN(TestSecureOptions)
#include "test_secureoptions.moc"
