#include "formharness.h"

#include <QTest>

FormHarness::FormHarness(FtpTestServerOptions options, const QByteArray& settings)
    : folder(settings), server(std::move(options))
{
    platform.folder = folder.path();
}

FormHarness::~FormHarness()
{
    if (form && form->isVisible())
        form->close();
}

bool FormHarness::start()
{
    if (!server.start())
        return false;
    form = std::make_unique<FTPform>(platform);
    m_access = std::make_unique<FTPformTestAccess>(*form);
    if (!form->Form_Load())
        return false;
    f().text1->setText(serverName());
    f().text2->setText(QStringLiteral("user"));
    f().text3->setText(QStringLiteral("secret"));
    f().text4->setText(serverName() + QStringLiteral("/pub"));
    form->show();
    return QTest::qWaitForWindowExposed(form.get());
}

void FormHarness::clickNode(const QString& key)
{
    QTreeWidgetItem* item = f().TreeView1->node(key);
    if (!item)
        return;
    f().TreeView1->scrollToItem(item);
    const QRect rect = f().TreeView1->visualItemRect(item);
    QTest::mouseClick(f().TreeView1->viewport(), Qt::LeftButton, {}, rect.center());
    f().settle();
}

QStringList FormHarness::childKeys(const QString& key) const
{
    QStringList keys;
    const QTreeWidgetItem* node = f().TreeView1->node(key);
    for (QTreeWidgetItem* child = node ? KeyedTree::firstChild(node) : nullptr; child;
         child = f().TreeView1->nextSibling(child))
        keys << KeyedTree::key(child);
    return keys;
}

int stepClockTo(FormHarness& h, int hour, int minute, int second, int ms)
{
    const QTime target(hour, minute, second, ms);
    FTPformTestAccess& f = h.f();
    int steps = 0;
    while (h.platform.timeOfDay() != target && steps < 2 * 86400 * 2) {
        h.platform.advance(0.5);
        ++steps;
        if (h.platform.timeOfDay().msec() == 0 && f.Timer3->running())
            emit f.Timer3->timeout();
        for (FormTimer* t : {f.Timer7, f.Timer5, f.Timer4, f.Timer6})
            if (t->running())
                f.fire(t);
    }
    return steps;
}
