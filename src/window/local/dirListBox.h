#pragma once
// Dir1: the shown folder with its ancestors above it, root first and each one step
// further in, and its sub-folders below it. Opening an entry (double-click or Enter)
// makes it the shown folder.

#include <QTreeWidget>

#include <functional>

class DirListBox : public QTreeWidget {
    Q_OBJECT
    Q_PROPERTY(QString path READ path WRITE setPath NOTIFY pathChanged)

public:
    // Told a cleaned folder path, answers whether its volume can be read now.
    using ReadinessCheck = std::function<bool(const QString& path)>;

    explicit DirListBox(QWidget* parent = nullptr);

    // The shown folder: cleaned, native separators, no trailing separator but at a root.
    QString path() const { return m_path; }
    // Shows another folder and sends pathChanged when it differs; the same folder
    // re-reads its sub-folders without a signal. Throws RuntimeFault, changing nothing,
    // when the folder does not exist, cannot be read or lies on a volume that is not ready.
    void setPath(const QString& path);
    // Re-reads the sub-folders of the shown folder.
    void refresh();

    void setReadinessCheck(ReadinessCheck check) { m_ready = std::move(check); }

    // Full paths of the entries, top to bottom: ancestors, the folder, its sub-folders.
    QStringList shownFolders() const;

signals:
    void pathChanged();

protected:
    // The chain of folders is always fully open: no expander arrows to draw.
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}

private:
    bool moveTo(const QString& path); // true when the folder changed
    void fill();
    void open(QTreeWidgetItem* item);

    QString m_path;
    ReadinessCheck m_ready;
};
