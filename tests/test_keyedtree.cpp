// The remote tree's node collection and the picture store it draws from.
#include "core/base/runtimeFault.h"
#include "window/ftp/imageList.h"
#include "window/ftp/keyedTree.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

static QPixmap swatch(Qt::GlobalColor colour)
{
    QPixmap p(16, 16);
    p.fill(colour);
    return p;
}

class TestKeyedTree : public QObject {
    Q_OBJECT
    ImageList m_images;
    KeyedTree* m_tree = nullptr;

    // ftp1 { ftp1/pub { ftp1/pub/x, ftp1/pub/sub { ftp1/pub/sub/y } }, ftp1/a.txt }
    void addServer()
    {
        const QStringList nodes{"ftp1",         "root",   "ftp1/pub",       "closed", "ftp1/pub/x", "leaf",
                                "ftp1/pub/sub", "closed", "ftp1/pub/sub/y", "leaf",   "ftp1/a.txt", "leaf"};
        for (qsizetype i = 0; i < nodes.size(); i += 2) {
            const QString& key = nodes[i];
            m_tree->add(key.section('/', 0, -2), i ? KeyedTree::Child : KeyedTree::First, key, key, nodes[i + 1]);
        }
    }
    void click(const QString& key, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(m_tree->viewport(), button, {}, m_tree->visualItemRect(m_tree->node(key)).center());
    }

private slots:
    void initTestCase()
    {
        for (const auto& [key, colour] : {std::pair{"open", Qt::yellow}, {"closed", Qt::red}, {"leaf", Qt::white}})
            m_images.add(key, swatch(colour));
        QCOMPARE(m_images.add("root", swatch(Qt::blue)), 4);
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, m_images.add("leaf", swatch(Qt::black)));
        QCOMPARE(m_images.count(), 4);
    }
    void init()
    {
        m_tree = new KeyedTree;
        m_tree->setImageList(&m_images);
        m_tree->resize(300, 120);
        addServer();
    }
    void cleanup() { delete m_tree; }

    void addedNodesKeepKeysAndImages()
    {
        QCOMPARE(m_tree->count(), 6);
        QTreeWidgetItem* pub = m_tree->node("ftp1/pub");
        QCOMPARE(pub->parent(), m_tree->node("ftp1"));
        QCOMPARE(m_tree->node("ftp1")->child(1), m_tree->node("ftp1/a.txt"));
        QCOMPARE(KeyedTree::key(pub), "ftp1/pub");
        QCOMPARE(KeyedTree::imageKey(pub), "closed");
        m_tree->setImageKey(pub, "open");
        QCOMPARE(KeyedTree::imageKey(pub), "open");
        QCOMPARE(pub->icon(0).pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::yellow));
        // "First" beside a relative goes in front of the relative's siblings.
        QCOMPARE(m_tree->node("ftp1")->child(0), m_tree->add("ftp1/a.txt", KeyedTree::First, "ftp1/0", "0", ""));
    }

    void faultsLeaveTheTreeAsItWas()
    {
        const std::function<void()> faulty[] = {
            [&] { m_tree->add("ftp1", KeyedTree::Child, "ftp1/pub/sub/y", "new", "leaf"); },
            [&] { m_tree->add("nowhere", KeyedTree::Child, "new", "new", "leaf"); },
            [&] { m_tree->add("ftp1", KeyedTree::Child, "new", "new", "folder"); },
            [&] { m_tree->add("ftp1", 2, "new", "new", "leaf"); },
            [&] { m_tree->remove("ftp1/nothing"); },
            [&] { m_tree->setImageKey(m_tree->node("ftp1/pub"), "folder"); },
        };
        for (const auto& f : faulty) {
            QVERIFY_THROWS_EXCEPTION(RuntimeFault, f());
            QCOMPARE(m_tree->count(), 6);
            QCOMPARE(m_tree->node("ftp1")->childCount(), 2);
            QCOMPARE(m_tree->node("ftp1/pub")->childCount(), 2);
            QVERIFY(!m_tree->contains("new"));
            QCOMPARE(KeyedTree::imageKey(m_tree->node("ftp1/pub")), "closed");
        }
        KeyedTree bare; // no image list bound
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, bare.add("", KeyedTree::First, "s", "s", "root"));
        QCOMPARE(bare.count(), 0);
    }

    void removingANodeTakesItsSubtreeAndKeys()
    {
        m_tree->remove("ftp1/pub");
        QCOMPARE(m_tree->count(), 2);
        for (const char* gone : {"ftp1/pub", "ftp1/pub/x", "ftp1/pub/sub", "ftp1/pub/sub/y"})
            QVERIFY2(!m_tree->contains(gone) && !m_tree->node(gone), gone);
        m_tree->add("ftp1", KeyedTree::Child, "ftp1/pub/sub", "ftp1/pub/sub", "closed");
        QCOMPARE(m_tree->count(), 3);
        m_tree->remove("ftp1");
        QCOMPARE(m_tree->count(), 0);
        QCOMPARE(m_tree->topLevelItemCount(), 0);
    }

    void walkingChildren()
    {
        QTreeWidgetItem* pub = m_tree->node("ftp1/pub");
        for (const QString key : {"ftp1/pub/c", "ftp1/pub/d"})
            m_tree->add("ftp1/pub", KeyedTree::Child, key, key, "leaf");
        QStringList seen;
        for (QTreeWidgetItem* c = KeyedTree::firstChild(pub); c; c = m_tree->nextSibling(c)) {
            seen << KeyedTree::key(c);
            // A step in another folder in between must not lead this walk astray.
            QCOMPARE(m_tree->nextSibling(pub), m_tree->node("ftp1/a.txt"));
        }
        QCOMPARE(seen, QStringList({"ftp1/pub/x", "ftp1/pub/sub", "ftp1/pub/c", "ftp1/pub/d"}));

        // How a folder is closed: remember the next sibling, remove the child, go on.
        for (QTreeWidgetItem* c = KeyedTree::firstChild(pub); c;) {
            QTreeWidgetItem* next = m_tree->nextSibling(c);
            m_tree->removeNode(c);
            c = next;
        }
        QCOMPARE(pub->childCount(), 0);
        QCOMPARE(m_tree->count(), 3);
        QVERIFY(!m_tree->contains("ftp1/pub/sub/y"));
    }

    void theOperatorClicksButCannotOpenOrClose()
    {
        for (int i = 0; i < 20; ++i)
            m_tree->add("ftp1", KeyedTree::First, QString("ftp1/f%1").arg(i), "f", "leaf");
        m_tree->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_tree));
        QTreeWidgetItem* y = m_tree->node("ftp1/pub/sub/y");
        m_tree->ensureVisible(y);
        for (const char* k : {"ftp1", "ftp1/pub", "ftp1/pub/sub"})
            QVERIFY2(m_tree->node(k)->isExpanded(), k);
        QVERIFY(m_tree->viewport()->rect().contains(m_tree->visualItemRect(y)));

        QStringList notified; // the selected node at each notification
        connect(m_tree, &KeyedTree::mouseNotification, this,
                [&] { notified << KeyedTree::key(m_tree->selectedNode()); });
        QVERIFY(!m_tree->selectedNode());
        click("ftp1/pub/sub/y");
        click("ftp1/pub", Qt::RightButton);
        QCOMPARE(notified, QStringList{"ftp1/pub/sub/y"});

        // A double click (click, double-click event, release) notifies once and opens nothing.
        m_tree->node("ftp1/pub/sub")->setExpanded(false);
        const QPoint sub = m_tree->visualItemRect(m_tree->node("ftp1/pub/sub")).center();
        click("ftp1/pub/sub");
        QTest::mouseDClick(m_tree->viewport(), Qt::LeftButton, {}, sub);
        QTest::mouseRelease(m_tree->viewport(), Qt::LeftButton, {}, sub);
        QCOMPARE(notified, QStringList({"ftp1/pub/sub/y", "ftp1/pub/sub"}));
        // Nor does a click where the expand button would be, or the keys that open nodes.
        QTest::mouseClick(m_tree->viewport(), Qt::LeftButton, {},
                          sub - QPoint(m_tree->visualItemRect(m_tree->node("ftp1/pub/sub")).width() / 2 + 8, 0));
        for (const auto key : {Qt::Key_Plus, Qt::Key_Right, Qt::Key_Asterisk})
            QTest::keyClick(m_tree, key);
        QVERIFY(!m_tree->node("ftp1/pub/sub")->isExpanded());
        m_tree->setCurrentItem(m_tree->node("ftp1/pub"));
        for (const auto key : {Qt::Key_Minus, Qt::Key_Left})
            QTest::keyClick(m_tree, key);
        QVERIFY(m_tree->node("ftp1/pub")->isExpanded());
    }

    void loadPicture()
    {
        QTemporaryDir dir;
        QImage image(7, 5, QImage::Format_RGB32);
        image.fill(Qt::green);
        QVERIFY(image.save(dir.filePath("open.bmp"), "BMP") && image.save(dir.filePath("leaf.png"), "PNG"));
        QFile notPicture(dir.filePath("root.bmp"));
        QVERIFY(notPicture.open(QIODevice::WriteOnly) && notPicture.write("text") > 0);
        notPicture.close();

        const QPixmap loaded = LoadPicture(dir.filePath("open.bmp"));
        QCOMPARE(loaded.size(), QSize(7, 5));
        QCOMPARE(loaded.toImage().pixelColor(3, 2), QColor(Qt::green));
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, LoadPicture(dir.filePath("closed.bmp")));
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, LoadPicture(dir.filePath("root.bmp")));
        // The name is used as given: no suffix is tried on a name that does not exist.
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, LoadPicture(dir.filePath("leaf")));

        // A bare name is looked up in the current folder.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const bool found = !LoadPicture("open.bmp").isNull();
        QDir::setCurrent(before);
        QVERIFY(found);
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, LoadPicture("open.bmp"));
    }

    void aFolderOfTenThousandEntries()
    {
        m_tree->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_tree));
        QElapsedTimer clock;
        clock.start();
        QTreeWidgetItem* last = nullptr;
        for (int i = 0; i < 10000; ++i) {
            const QString key = QString("ftp1/pub/sub/%1").arg(i);
            last = m_tree->add("ftp1/pub/sub", KeyedTree::Child, key, key, "leaf");
        }
        m_tree->ensureVisible(last);
        QCoreApplication::processEvents();
        const qint64 added = clock.restart();
        QVERIFY(m_tree->viewport()->rect().contains(m_tree->visualItemRect(last)));

        for (QTreeWidgetItem* c = KeyedTree::firstChild(m_tree->node("ftp1/pub/sub")); c;) {
            QTreeWidgetItem* next = m_tree->nextSibling(c);
            m_tree->removeNode(c);
            c = next;
        }
        QCoreApplication::processEvents();
        const qint64 removed = clock.elapsed();
        qDebug("10000 entries: added and shown in %lld ms, removed one by one in %lld ms", added, removed);
        QCOMPARE(m_tree->count(), 5);
        QVERIFY(added < 5000 && removed < 5000);
    }
};

QTEST_MAIN(TestKeyedTree)
#include "test_keyedtree.moc"
