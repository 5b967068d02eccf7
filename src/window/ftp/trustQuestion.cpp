#include "window/ftp/trustQuestion.h"

#include "core/ftp/pinnedKeys.h"

#include <QStringList>

namespace {

using Standing = ServerIdentity::Standing;

QString dateText(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

QStringList certificateLines(const Certificate& c)
{
    return {QStringLiteral("発行先: ") + c.subject, QStringLiteral("発行者: ") + c.issuer,
            QStringLiteral("対象の名前: ") +
                (c.names.isEmpty() ? QStringLiteral("（なし）") : c.names.join(QStringLiteral(", "))),
            QStringLiteral("有効期間: ") + dateText(c.notBefore) + QStringLiteral(" ～ ") + dateText(c.notAfter) +
                QStringLiteral(" (UTC)")};
}

QString whyNotTrusted(const ServerIdentity& offered)
{
    switch (offered.standing) {
    case Standing::NotVouchedFor:
        return QStringLiteral(
            "信頼できる認証局の署名がありません（自己署名の証明書か、私設の認証局が発行した証明書です）。");
    case Standing::OtherName:
        return QStringLiteral("証明書が別の名前のサーバー用に発行されています（接続先: %1）。")
            .arg(QString::fromStdString(offered.server.host));
    case Standing::OutOfDate:
        return QStringLiteral("証明書の有効期間外です（期限切れか、まだ有効になっていません）。");
    default:
        return {};
    }
}

} // namespace

QString trustQuestion(const ServerIdentity& offered)
{
    const QString server = QString::fromStdString(pinnedKeyName(offered.server));
    QStringList lines;
    if (offered.kind == ServerIdentity::Kind::Certificate) {
        if (offered.standing == Standing::Changed)
            lines << QStringLiteral("警告: このサーバー用に信頼した証明書とは鍵の違う証明書が提示されました。")
                  << QStringLiteral(
                         "証明書の更新で変わったこともありますが、通信をなりすまされている（攻撃の）"
                         "おそれもあります。プロバイダーが公開するフィンガープリントと照らし合わせてください。");
        else
            lines << QStringLiteral("サーバーの証明書を確かめられませんでした。") << whyNotTrusted(offered);
        lines << QString() << QStringLiteral("サーバー: ") + server;
        if (offered.certificate)
            lines << certificateLines(*offered.certificate);
        if (offered.standing == Standing::Changed)
            lines << QStringLiteral("信頼済みの証明書の SHA-256 フィンガープリント:") << offered.trustedFingerprint
                  << QStringLiteral("提示された証明書の SHA-256 フィンガープリント:") << offered.fingerprint
                  << QString() << QStringLiteral("信頼する証明書をこの証明書に置き換えて接続しますか？");
        else
            lines << QStringLiteral("SHA-256 フィンガープリント:") << offered.fingerprint << QString()
                  << QStringLiteral("この証明書をこのサーバー用に信頼して接続しますか？");
        return lines.join(QLatin1Char('\n'));
    }
    if (offered.standing == Standing::Changed)
        lines << QStringLiteral("警告: このサーバーのホスト鍵が、記録されている鍵と違います。")
              << QStringLiteral("サーバーの入れ替えで変わったこともありますが、攻撃（なりすまし）のおそれがあります。"
                                "確かめられないときは「いいえ」を選んでください。");
    else
        lines << QStringLiteral("このサーバーのホスト鍵はまだ記録されていません（初めての接続です）。");
    lines << QString() << QStringLiteral("サーバー: ") + server << QStringLiteral("鍵の種類: ") + offered.keyType;
    if (offered.standing == Standing::Changed)
        lines << QStringLiteral("記録されている鍵の SHA-256 フィンガープリント:") << offered.trustedFingerprint
              << QStringLiteral("提示された鍵の SHA-256 フィンガープリント:") << offered.fingerprint << QString()
              << QStringLiteral("記録されている鍵をこの鍵に置き換えて接続しますか？");
    else
        lines << QStringLiteral("SHA-256 フィンガープリント:") << offered.fingerprint << QString()
              << QStringLiteral("この鍵を記録して接続しますか？");
    return lines.join(QLatin1Char('\n'));
}

bool trustByDefault(const ServerIdentity& offered)
{
    return offered.standing != Standing::Changed;
}
