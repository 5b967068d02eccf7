#include "core/scheduler/ownerAlerts.h"

namespace {

// The lost hours a message names, at most: a day's.
constexpr qsizetype kHoursNamed = 24;

QString minuteText(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString secondText(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString hourLine(const HourReport& hour)
{
    return QStringLiteral("  %1  %2  %3").arg(secondText(hour.due), hour.file, hour.reason);
}

} // namespace

QString japaneseSpan(qint64 seconds)
{
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QStringLiteral("%1 分").arg(minutes);
    if (minutes % 60 == 0)
        return QStringLiteral("%1 時間").arg(minutes / 60);
    return QStringLiteral("%1 時間 %2 分").arg(minutes / 60).arg(minutes % 60);
}

OwnerAlerts::OwnerAlerts(int after, std::optional<int> staleHours, int lostSoFar)
    : m_after(std::max(after, 1)), m_staleHours(staleHours), m_lost(lostSoFar), m_toldLost(lostSoFar >= m_after)
{
}

QList<OwnerMessage> OwnerAlerts::hourDecided(const HourReport& hour, const QStringList& logTail)
{
    QList<OwnerMessage> messages;
    if (!hour.landed) {
        ++m_lost;
        m_lostHours << hour;
        if (m_lostHours.size() > kHoursNamed)
            m_lostHours.removeFirst();
        if (m_lost == m_after && !m_toldLost) {
            m_toldLost = true;
            OwnerMessage m;
            m.kind = OwnerMessageKind::Lost;
            m.subject = QStringLiteral("Skylark: %1 を送れませんでした (%2)").arg(hour.file, minuteText(hour.due));
            QStringList text;
            text << QStringLiteral("Skylark から、毎時の画像を送れなかったことのお知らせです。") << QString();
            text << (m_lost == 1 ? QStringLiteral("送れなかった時間:")
                                 : QStringLiteral("送れなかった時間 (%1 時間続けて):").arg(m_lost));
            for (const HourReport& lost : std::as_const(m_lostHours))
                text << hourLine(lost);
            text << QString() << QStringLiteral("理由: %1").arg(hour.reason) << QString();
            text << QStringLiteral(
                "Skylark は毎時の転送を続けています。また届くようになったら、もう一度お知らせします。");
            if (!logTail.isEmpty())
                text << QString() << QStringLiteral("ログの最後の行 (skylark.log):") << logTail;
            m.text = text.join(QLatin1Char('\n'));
            messages << m;
        }
    } else {
        if (m_toldLost) {
            OwnerMessage m;
            m.kind = OwnerMessageKind::Recovered;
            m.subject = QStringLiteral("Skylark: %1 が届きました。送信は戻っています (%2)")
                            .arg(hour.file, minuteText(hour.due));
            QStringList text;
            text << QStringLiteral("Skylark から、毎時の画像がまた届くようになったことのお知らせです。") << QString();
            text << (hour.tries > 0 ? QStringLiteral("%1 に %2 が届きました (%3 回目の再試行)。")
                                          .arg(secondText(hour.due), hour.file)
                                          .arg(hour.tries)
                                    : QStringLiteral("%1 に %2 が届きました。").arg(secondText(hour.due), hour.file));
            text << QStringLiteral("それまでに %1 時間分の画像を送れませんでした。").arg(m_lost);
            m.text = text.join(QLatin1Char('\n'));
            messages << m;
        }
        m_lost = 0;
        m_toldLost = false;
        m_lostHours.clear();
    }

    const bool stale = hour.imageAge && m_staleHours && *hour.imageAge > qint64{*m_staleHours} * 3600;
    if (stale && !m_toldStale) {
        m_toldStale = true;
        OwnerMessage m;
        m.kind = OwnerMessageKind::Stale;
        m.subject = QStringLiteral("Skylark: %1 が %2 前から更新されていません (%3)")
                        .arg(hour.file, japaneseSpan(*hour.imageAge), minuteText(hour.due));
        QStringList text;
        text << QStringLiteral("Skylark から、画像が古いままになっていることのお知らせです。") << QString();
        text << QStringLiteral("%1 は、%2 の %3 前 (%4) から書き換えられていません。")
                    .arg(hour.file, secondText(hour.due), japaneseSpan(*hour.imageAge),
                         secondText(hour.due.addSecs(-*hour.imageAge)));
        text << QStringLiteral("カメラや画像を作るプログラムが止まっているかもしれません。");
        text << QStringLiteral(
            "画像はこれまでどおり送っています。新しい画像が届くまで、このお知らせは繰り返しません。");
        m.text = text.join(QLatin1Char('\n'));
        messages << m;
    } else if (!stale && hour.imageAge) {
        m_toldStale = false;
    }
    return messages;
}

OwnerMessage testMessage(const QDateTime& now)
{
    OwnerMessage m;
    m.kind = OwnerMessageKind::Test;
    m.subject = QStringLiteral("Skylark: テストメッセージ (%1)").arg(minuteText(now));
    m.text = QStringLiteral("Skylark の alert.txt の設定で送ったテストメッセージです。\n"
                            "これが届いていれば、毎時の画像を送れなかったときにお知らせが届きます。");
    return m;
}
