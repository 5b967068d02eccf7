#pragma once
// File1: the ordinary files of one folder that match a pattern, sorted without
// regard to case. FileName is the selected bare name; setting it to a full path
// moves the list to that folder first.

#include <QListWidget>

class FileListBox : public QListWidget {
    Q_OBJECT
    Q_PROPERTY(QString path READ path WRITE setPath NOTIFY pathChanged)
    Q_PROPERTY(QString pattern READ pattern WRITE setPattern NOTIFY patternChanged)
    Q_PROPERTY(QString fileName READ fileName WRITE setFileName)

public:
    explicit FileListBox(QWidget* parent = nullptr);

    // The listed folder: cleaned, native separators, no trailing separator but at a root.
    QString path() const { return m_path; }
    // Lists the folder afresh (also when it is the same one; the selection is dropped)
    // and sends pathChanged when it differs. Throws RuntimeFault, changing nothing, when
    // the folder does not exist or cannot be read.
    void setPath(const QString& path);

    // Wildcards separated by ';'. "*.*" is every file, with or without a dot in its name,
    // and more generally "x.*" also matches "x". Matching ignores case.
    QString pattern() const { return m_pattern; }
    void setPattern(const QString& pattern);

    // The selected bare name, or empty when nothing is selected.
    QString fileName() const;
    // A bare name selects that entry when it is listed, and clears the selection when
    // not. A name with a folder in it lists that folder first (RuntimeFault when it
    // cannot; nothing changes then) and selects the file when it is listed there.
    void setFileName(const QString& name);

    // The listed names, top to bottom.
    QStringList fileNames() const { return m_names; }
    // Lists the folder again, keeping the selection when its name is still there.
    void refresh();

signals:
    void pathChanged();
    void patternChanged();

private:
    bool moveTo(const QString& path); // true when the folder changed
    void fill();
    void selectName(const QString& name);

    QString m_path;
    QString m_pattern = QStringLiteral("*.*");
    QStringList m_names;
};
