#pragma once
// What the window says: the text of each of its message boxes and status labels, each
// a fixed sentence, named after what it tells the operator.

#include <QString>

// Start-up.
inline const QString kMissingFiles = QStringLiteral("足りないファイルがあるようです");
// Settings.
inline const QString kSettingsNotSaved = QStringLiteral("設定を保存できませんでした");
// The FTP session and the tree.
inline const QString kEnterServerUserPassword = QStringLiteral("サ－バ－名、ID、パスワードを入れてください！");
inline const QString kFolderEmpty = QStringLiteral("このディレクトリは空です！");
inline const QString kChooseFolder = QStringLiteral("変更するディレクトリを選択");
inline const QString kFolderWrong = QStringLiteral("転送先が間違ってます");
inline const QString kCannotDo = QStringLiteral("実行不能");
// The hourly upload.
inline const QString kSettingsWrong = QStringLiteral("設定が間違っているようです");
inline const QString kEnterServer = QStringLiteral("サ－バ－名を入れてください！");
inline const QString kChooseFileToUpload = QStringLiteral("アップロ－ドするファイルを選択してください！");
inline const QString kResetMinuteSecond = QStringLiteral("分、秒を設定しなおして下さい");
inline const QString kMinuteSecondTwoDigits = QStringLiteral("分、秒は２桁で設定して下さい");
inline const QString kHourlyRunning = QStringLiteral("転送タイマ－作動中（１時間に１度転送してます）");
// The manual transfer.
inline const QString kSettingsMissing = QStringLiteral("FTP.txt ファイルがありません");
inline const QString kNoFileOrWrongDestination = QStringLiteral("転送ファイルが無いか転送先が間違っているようです");
inline const QString kNotConnected = QStringLiteral("接続されていません");
inline const QString kChooseSourceAndDestination = QStringLiteral("送り元、送り先のディレクトリを指定して下さい");
inline const QString kDestinationWrong = QStringLiteral("転送先が間違っているようです");
inline const QString kTransferred = QStringLiteral("転送しました");
// The program end.
inline const QString kResetHourMinuteSecond = QStringLiteral("時、分、秒を設定しなおして下さい");
inline const QString kSetHourMinuteSecond = QStringLiteral("時、分、秒を設定して下さい");
inline const QString kHourMinuteSecondTwoDigits = QStringLiteral("時、分、秒は２桁で設定して下さい");
inline const QString kEndTimerRunning = QStringLiteral("終了タイマ－作動中");
