#pragma once
// alert.txt: where Skylark tells its owner that hours are being lost. An optional file
// beside ftp.txt, UTF-8, one `key=value` a line; blank lines and lines starting with #
// are left alone:
//
//   mail=owner@example.jp               who gets the mails
//   from=camera@example.jp              their sender (default: mail)
//   smtp=smtps://smtp.example.jp:465    the mail server; smtp://host:587 must offer
//                                       STARTTLS, except on this machine (a local relay)
//   smtp_user=... smtp_password=...     when the mail server wants a login
//   url=https://ntfy.sh/my-camera       gets each message as an HTTP POST
//   after=1                             a message when the after-th hour in a row is lost
//   stale=6                             and when the hour's image is older than this (hours)
//   ping=https://hc-ping.com/...        gets a GET after every hour that landed
//
// A line that is wrong is named (alert.txt:2: unknown key "colour") and left out; the
// rest of the file counts. Nothing in it ever stops the hourly upload.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

inline constexpr char kAlertFile[] = "alert.txt";

struct AlertSettings {
    QString mail;                  // the owner's address; empty: no mails
    QString from;                  // the sender; empty: mail
    QString smtp;                  // smtps://host:port or smtp://host:port
    QString smtpUser;              // empty: no login
    QString smtpPassword;          // never logged, never in a message
    QString url;                   // a web address that gets every message as a POST
    QString ping;                  // a web address that gets a GET after every hour that landed
    int after = 1;                 // the lost hour in a row that sends the message
    std::optional<int> staleHours; // also a message for an image older than this

    // Whether any message can go anywhere.
    bool messages() const { return !mail.isEmpty() || !url.isEmpty(); }
    bool any() const { return messages() || !ping.isEmpty(); }
    QString sender() const { return from.isEmpty() ? mail : from; }
    // What must never be logged or shown: the mail password and a password written into
    // a web address.
    QStringList secrets() const;
    // A web address as the log and --test-alert show it: without a user and password.
    static QString shown(const QString& address);
};

struct AlertFile {
    AlertSettings settings;
    QStringList mistakes; // "alert.txt:2: unknown key \"colour\"", in the order of the lines
};

// Reads the file's bytes.
AlertFile parseAlertSettings(const QByteArray& contents);

// Reads alert.txt in the folder; nullopt when there is none.
std::optional<AlertFile> readAlertSettings(const QString& folder);

// Whether a host is this machine: 127.0.0.0/8, ::1, localhost.
bool isLoopbackHost(const QString& host);
