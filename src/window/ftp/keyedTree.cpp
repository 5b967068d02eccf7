#include "window/ftp/keyedTree.h"

#include "core/base/runtimeFault.h"
#include "window/ftp/imageList.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTreeWidgetItem>

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int KeyRole = Qt::UserRole;
constexpr int ImageKeyRole = Qt::UserRole + 1;

std::string quoted(const QString& s)
{
    return '"' + s.toStdString() + '"';
}

} // namespace

KeyedTree::KeyedTree(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(SingleSelection);
    setEditTriggers(NoEditTriggers);
    // Top-level nodes carry no line, and nothing the operator does opens or closes a
    // node; ensureVisible() still expands, as that goes past these settings.
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    // A folder can hold thousands of entries: adding one must not re-sort the folder,
    // and laying them out must not measure every row.
    setSortingEnabled(false);
    setUniformRowHeights(true);
}

void KeyedTree::mouseDoubleClickEvent(QMouseEvent* event)
{
    m_endsDoubleClick = true;
    QTreeWidget::mouseDoubleClickEvent(event);
}

void KeyedTree::mousePressEvent(QMouseEvent* event)
{
    // A press beside the nodes leaves the selected node selected, so the window can
    // still act on it; the view would otherwise drop the selection on the release.
    m_pressOnBlank = !indexAt(event->position().toPoint()).isValid();
    if (m_pressOnBlank) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void KeyedTree::mouseReleaseEvent(QMouseEvent* event)
{
    const bool endsDoubleClick = std::exchange(m_endsDoubleClick, false);
    // The selection follows the press; the window reads it once the button is up.
    if (std::exchange(m_pressOnBlank, false))
        event->accept();
    else
        QTreeWidget::mouseReleaseEvent(event);
    // Every release of the left button over the tree counts, on a node or on the empty
    // space around the nodes: the window then acts on whichever node is selected, or
    // says it cannot. The release that ends a double click is not a second click.
    if (event->button() == Qt::LeftButton && !endsDoubleClick)
        emit mouseNotification();
}

QIcon KeyedTree::iconFor(const QString& imageKey) const
{
    if (imageKey.isEmpty())
        return {};
    if (!m_images)
        throw RuntimeFault("tree: no image list for the image " + quoted(imageKey));
    return m_images->icon(imageKey);
}

QTreeWidgetItem* KeyedTree::ownNode(QTreeWidgetItem* node, const char* operation) const
{
    if (!node || node->treeWidget() != this)
        throw RuntimeFault(std::string("tree: ") + operation + ": not a node of this tree");
    return node;
}

QTreeWidgetItem* KeyedTree::add(const QString& relativeKey, int relationship, const QString& key, const QString& text,
                                const QString& imageKey)
{
    // Everything is checked before the tree is touched, so a fault leaves it as it was.
    if (relationship != First && relationship != Child)
        throw RuntimeFault("tree: relationship " + std::to_string(relationship) + " is not supported");
    if (contains(key))
        throw RuntimeFault("tree: key is not unique: " + quoted(key));
    QTreeWidgetItem* relative = nullptr;
    if (!relativeKey.isEmpty()) {
        relative = node(relativeKey);
        if (!relative)
            throw RuntimeFault("tree: no node has the key " + quoted(relativeKey));
    }
    const QIcon icon = iconFor(imageKey);

    // Text, key and icon go in before the item joins the tree, so joining is one
    // insertion and no change notifications follow it.
    auto* item = new QTreeWidgetItem;
    item->setText(0, text);
    item->setData(0, KeyRole, key);
    item->setData(0, ImageKeyRole, imageKey);
    item->setIcon(0, icon);

    if (!relative)
        addTopLevelItem(item);
    else if (relationship == Child)
        relative->addChild(item);
    else if (QTreeWidgetItem* parent = relative->parent())
        parent->insertChild(0, item);
    else
        insertTopLevelItem(0, item);

    if (!key.isEmpty())
        m_nodes.insert(key, item);
    ++m_count;
    return item;
}

void KeyedTree::remove(const QString& key)
{
    QTreeWidgetItem* found = node(key);
    if (!found)
        throw RuntimeFault("tree: no node has the key " + quoted(key));
    removeNode(found);
}

void KeyedTree::removeNode(QTreeWidgetItem* node)
{
    ownNode(node, "remove");
    int removed = 0;
    std::vector<const QTreeWidgetItem*> pending{node};
    while (!pending.empty()) {
        const QTreeWidgetItem* item = pending.back();
        pending.pop_back();
        if (const QString k = key(item); !k.isEmpty())
            m_nodes.remove(k);
        ++removed;
        for (int i = 0, n = item->childCount(); i < n; ++i)
            pending.push_back(item->child(i));
    }
    m_count -= removed;
    // The item takes itself out of its parent and deletes its subtree; for the first
    // child, the case of clearing a folder front to back, finding itself is O(1).
    delete node;
}

QTreeWidgetItem* KeyedTree::firstChild(const QTreeWidgetItem* node)
{
    return node->child(0);
}

QTreeWidgetItem* KeyedTree::nextSibling(const QTreeWidgetItem* node) const
{
    // Items know their parent but not their row, and finding the row is a search from
    // the front. A forward walk asks for the node the previous call returned, so that
    // row is tried first; a walk that removes each child keeps its node at the front,
    // where the search ends at once.
    const QTreeWidgetItem* parent = node->parent() ? node->parent() : invisibleRootItem();
    int row = m_siblingRowHint;
    if (parent->child(row) != node)
        row = parent->indexOfChild(const_cast<QTreeWidgetItem*>(node));
    if (row < 0)
        return nullptr;
    m_siblingRowHint = row + 1;
    return parent->child(row + 1);
}

QString KeyedTree::key(const QTreeWidgetItem* node)
{
    return node->data(0, KeyRole).toString();
}

QString KeyedTree::text(const QTreeWidgetItem* node)
{
    return node->text(0);
}

QString KeyedTree::imageKey(const QTreeWidgetItem* node)
{
    return node->data(0, ImageKeyRole).toString();
}

void KeyedTree::setImageKey(QTreeWidgetItem* node, const QString& imageKey)
{
    ownNode(node, "set image");
    const QIcon icon = iconFor(imageKey);
    node->setData(0, ImageKeyRole, imageKey);
    node->setIcon(0, icon);
}

QTreeWidgetItem* KeyedTree::selectedNode() const
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void KeyedTree::ensureVisible(QTreeWidgetItem* node)
{
    ownNode(node, "ensure visible");
    for (QTreeWidgetItem* p = node->parent(); p; p = p->parent())
        p->setExpanded(true);
    scrollToItem(node);
}

void KeyedTree::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    // Dotted connector lines and nothing else: the style's branch primitive would add
    // expand buttons, and folders here are opened by a click on the node instead.
    // The rectangle holds one indentation step per level above the node (none for a
    // top-level node); the last step is the node's own connector, and each step before
    // it carries an ancestor's line on down when that ancestor has a later sibling.
    const int step = indentation();
    if (step <= 0 || rect.width() < step)
        return;
    const int ownStep = rect.width() / step - 1;
    const auto x = [&](int stepIndex, int offset) {
        const int ltr = rect.left() + stepIndex * step + offset;
        return isRightToLeft() ? rect.left() + rect.right() - ltr : ltr;
    };
    const auto hasLaterSibling = [&](const QModelIndex& i) { return model()->rowCount(i.parent()) > i.row() + 1; };

    painter->save();
    QPen pen(palette().color(QPalette::Mid));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);

    const int mid = step / 2;
    const int midY = rect.top() + rect.height() / 2;
    painter->drawLine(x(ownStep, mid), rect.top(), x(ownStep, mid), hasLaterSibling(index) ? rect.bottom() : midY);
    painter->drawLine(x(ownStep, mid), midY, x(ownStep, step - 1), midY);
    QModelIndex ancestor = index.parent();
    for (int s = ownStep - 1; s >= 0 && ancestor.isValid(); --s, ancestor = ancestor.parent()) {
        if (hasLaterSibling(ancestor))
            painter->drawLine(x(s, mid), rect.top(), x(s, mid), rect.bottom());
    }
    painter->restore();
}
