#pragma once
// The remote folder tree: a tree whose nodes are found by key. A key reads like a remote
// path and is unique across the whole tree, so the window can name any node without
// walking to it; every node also names its picture by a key of the bound ImageList.
//
// Folders open and close only through the window's own handling of a click, never by
// the operator's expand buttons, double clicks or keys: the tree shows lines but no
// buttons, and every release of the left button over the tree, on a node or beside
// the nodes, is reported as mouseNotification() once the selection has followed it.

#include <QHash>
#include <QString>
#include <QTreeWidget>

class ImageList;

class KeyedTree : public QTreeWidget {
    Q_OBJECT
public:
    // Where add() places a node, relative to the node named by the relative key.
    enum Relationship {
        First = 0, // first among the relative's siblings
        Child = 4, // last child of the relative
    };

    explicit KeyedTree(QWidget* parent = nullptr);

    // The list the image keys refer to; it must outlive the tree.
    void setImageList(const ImageList* images) { m_images = images; }
    const ImageList* imageList() const { return m_images; }

    // Adds a node. An empty relative key places it last at the top level, whatever the
    // relationship. An empty key is allowed and means a node without a key (not found by
    // node(), free of the uniqueness rule); an empty image key means no picture. Throws
    // RuntimeFault, leaving the tree as it was, when the key is taken, the relative key
    // names no node, the relationship is not one of the above, or the image key names no
    // picture of the image list.
    QTreeWidgetItem* add(const QString& relativeKey, int relationship, const QString& key, const QString& text,
                         const QString& imageKey);

    bool contains(const QString& key) const { return !key.isEmpty() && m_nodes.contains(key); }
    // nullptr when no node has the key.
    QTreeWidgetItem* node(const QString& key) const { return key.isEmpty() ? nullptr : m_nodes.value(key); }

    // Remove a node with everything under it. remove() throws RuntimeFault when no node
    // has the key, removeNode() when the node is not one of this tree's.
    void remove(const QString& key);
    void removeNode(QTreeWidgetItem* node);

    // For walking children; both give nullptr at the end. nextSibling() stays O(1) both
    // for a plain walk and for a walk that removes each node after stepping past it.
    static QTreeWidgetItem* firstChild(const QTreeWidgetItem* node);
    QTreeWidgetItem* nextSibling(const QTreeWidgetItem* node) const;

    static QString key(const QTreeWidgetItem* node);
    static QString text(const QTreeWidgetItem* node);
    static QString imageKey(const QTreeWidgetItem* node);
    // Throws RuntimeFault when the image key names no picture of the image list.
    void setImageKey(QTreeWidgetItem* node, const QString& imageKey);

    // The highlighted node, nullptr when there is none.
    QTreeWidgetItem* selectedNode() const;
    // All nodes, at every level.
    int count() const { return m_count; }
    // Expands every ancestor of the node and scrolls it into view.
    void ensureVisible(QTreeWidgetItem* node);

signals:
    // The operator released the left button over the tree, on a node (which is then
    // the selected one) or on the empty space. The second click of a double click does
    // not count.
    void mouseNotification();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;

private:
    QIcon iconFor(const QString& imageKey) const;
    QTreeWidgetItem* ownNode(QTreeWidgetItem* node, const char* operation) const;

    const ImageList* m_images = nullptr;
    QHash<QString, QTreeWidgetItem*> m_nodes;
    int m_count = 0;
    mutable int m_siblingRowHint = 0;
    bool m_endsDoubleClick = false; // the next release ends a double click
    bool m_pressOnBlank = false;    // the button went down beside the nodes
};
