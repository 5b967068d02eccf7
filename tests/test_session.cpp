// Connect, Disconnect, closing the window, and the server's folders in the tree,
// against a real FTP server.
#include "core/ftp/modWinInet.h"

#include "formharness.h"

#include <QDir>
#include <QTest>

using namespace wininet;

namespace {
const QString kEnterAll = QStringLiteral("サ－バ－名、ID、パスワードを入れてください！");
} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void connectNeedsAllThreeBoxes_data();
    void connectNeedsAllThreeBoxes();
    void connectDoesNothingWhenConnectedOrWithoutInternetHandle();
    void wrongPasswordIsReportedWithTheServersReply();
    void multiLineReplyShownWhole();
    void onlyServerRepliesAreShown();
    void treeAfterConnect();
    void openAndCloseAFolder();
    void emptyFolder();
    void refusedFolderChange();
    void changeRemoteDirPaths();
    void activationNeedsSessionAndSelection();
    void duplicateEntriesShownOnce();
    void disconnect();
    void disconnectAfterServerBoxEdited();
    void closingTheWindowQuitsTheSession();
};

void TestSession::connectNeedsAllThreeBoxes_data()
{
    QTest::addColumn<int>("emptyBox");
    QTest::newRow("server") << 0;
    QTest::newRow("user") << 1;
    QTest::newRow("password") << 2;
}

void TestSession::connectNeedsAllThreeBoxes()
{
    QFETCH(int, emptyBox);
    FormHarness h;
    QVERIFY(h.start());
    QLineEdit* boxes[] = {h.f().text1, h.f().text2, h.f().text3};
    boxes[emptyBox]->clear();
    h.f().click(h.f().cmdConnect);
    QCOMPARE(h.platform.messages, QStringList{kEnterAll});
    QVERIFY(!h.f().connected());
    QCOMPARE(h.f().hFtp(), 0);
    QCOMPARE(h.server.commandsStartingWith("USER"), 0);
    QVERIFY(h.f().cmdConnect->isEnabled());
}

void TestSession::connectDoesNothingWhenConnectedOrWithoutInternetHandle()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    QVERIFY(h.f().connected());
    QVERIFY(!h.f().cmdConnect->isEnabled());
    QVERIFY(h.f().cmdDisconnect->isEnabled());
    const HINTERNET session = h.f().hFtp();
    h.f().click(h.f().cmdConnect); // the button is locked, but the handler must hold too
    QCOMPARE(h.f().hFtp(), session);
    QCOMPARE(h.server.commandsStartingWith("USER"), 1);

    h.f().click(h.f().cmdDisconnect);
    const HINTERNET internet = h.f().hInternet();
    h.f().hInternet() = 0;
    h.f().click(h.f().cmdConnect);
    QVERIFY(!h.f().connected());
    QCOMPARE(h.server.commandsStartingWith("USER"), 1);
    QVERIFY(h.platform.messages.isEmpty());
    h.f().hInternet() = internet;
}

void TestSession::wrongPasswordIsReportedWithTheServersReply()
{
    FormHarness h;
    QVERIFY(h.start());
    h.f().text3->setText("wrong");
    h.f().click(h.f().cmdConnect);
    QCOMPARE(h.platform.messages.size(), 1);
    QCOMPARE(h.platform.messages[0], QString("InternetConnect Extd Err: 530 530 Login incorrect."));
    QVERIFY(!h.f().connected());
    QCOMPARE(h.f().hFtp(), 0);
    QCOMPARE(h.f().TreeView1->count(), 0);
    QVERIFY(h.f().cmdConnect->isEnabled());
}

void TestSession::multiLineReplyShownWhole()
{
    FtpTestServerOptions options;
    options.refuseLogin = true;
    options.refuseText = "Not today.\nTry again tomorrow.";
    FormHarness h(options);
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    QCOMPARE(h.platform.messages.size(), 1);
    const QString& message = h.platform.messages[0];
    QVERIFY2(message.startsWith("InternetConnect Extd Err: 530 530-Not today.\n"), qPrintable(message));
    QVERIFY2(message.endsWith("530 Try again tomorrow."), qPrintable(message));
}

void TestSession::onlyServerRepliesAreShown()
{
    FormHarness h;
    QVERIFY(h.start());
    for (std::uint32_t code : {0u, 2u, 18u, 12002u, 12007u, 12029u, 12030u})
        h.f().errorOut(code, "InternetConnect");
    QVERIFY(h.platform.messages.isEmpty());

    // A server that is not there is not a server reply: nothing to show, still idle.
    h.f().text1->setText("127.0.0.1:1");
    h.f().click(h.f().cmdConnect);
    QVERIFY(h.platform.messages.isEmpty());
    QVERIFY(!h.f().connected());
}

void TestSession::treeAfterConnect()
{
    FormHarness h;
    h.server.makeDir("pub");
    h.server.writeFile("a.txt", "hello");
    h.server.writeFile("photo 1.jpg", "x");
    h.server.writeFile("写真.jpg", "x");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    QVERIFY(h.platform.messages.isEmpty());

    const QString server = h.serverName();
    KeyedTree* tree = h.f().TreeView1;
    QTreeWidgetItem* root = tree->node(server);
    QVERIFY(root);
    QCOMPARE(KeyedTree::imageKey(root), QString("root"));
    QCOMPARE(KeyedTree::text(root), server);
    QVERIFY(root->isExpanded());

    // The children follow the server's order, which is the listing's.
    QStringList expected;
    QSet<QString> names;
    for (const RemoteEntry& entry : h.f().session().listing()) {
        expected << server + "/" + entry.name;
        names << entry.name;
    }
    QCOMPARE(h.childKeys(server), expected);
    QCOMPARE(names, QSet<QString>({"pub", "a.txt", "photo 1.jpg", "写真.jpg"}));
    QCOMPARE(KeyedTree::imageKey(tree->node(server + "/pub")), QString("closed"));
    QCOMPARE(KeyedTree::imageKey(tree->node(server + "/a.txt")), QString("leaf"));
    QCOMPARE(KeyedTree::imageKey(tree->node(server + "/写真.jpg")), QString("leaf"));
    QCOMPARE(KeyedTree::text(tree->node(server + "/a.txt")), server + "/a.txt");
}

void TestSession::openAndCloseAFolder()
{
    FormHarness h;
    h.server.writeFile("pub/one.jpg", "1");
    h.server.writeFile("pub/deeper/two.jpg", "2");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    const QString pub = h.serverName() + "/pub";

    h.server.clearCommands();
    h.clickNode(pub);
    QCOMPARE(KeyedTree::imageKey(h.f().TreeView1->node(pub)), QString("open"));
    const QStringList children = h.childKeys(pub);
    QCOMPARE(QSet<QString>(children.begin(), children.end()), QSet<QString>({pub + "/one.jpg", pub + "/deeper"}));
    QVERIFY(h.server.commands().contains("CWD /pub"));
    QCOMPARE(KeyedTree::imageKey(h.f().TreeView1->node(pub + "/deeper")), QString("closed"));

    // One level further down, then close the upper folder: the whole subtree goes.
    h.clickNode(pub + "/deeper");
    QCOMPARE(h.childKeys(pub + "/deeper"), QStringList{pub + "/deeper/two.jpg"});
    h.clickNode(pub);
    QCOMPARE(KeyedTree::imageKey(h.f().TreeView1->node(pub)), QString("closed"));
    QVERIFY(h.childKeys(pub).isEmpty());
    QVERIFY(!h.f().TreeView1->contains(pub + "/deeper/two.jpg"));
    // Files and the server node are left alone.
    h.clickNode(h.serverName() + "/pub");
    h.clickNode(pub + "/one.jpg");
    QCOMPARE(KeyedTree::imageKey(h.f().TreeView1->node(pub + "/one.jpg")), QString("leaf"));
    QVERIFY(h.platform.messages.isEmpty());
}

void TestSession::emptyFolder()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    const QString pub = h.serverName() + "/pub";
    h.clickNode(pub);
    QCOMPARE(h.platform.messages, QStringList{"このディレクトリは空です！"});
    QCOMPARE(KeyedTree::imageKey(h.f().TreeView1->node(pub)), QString("open"));
    QVERIFY(h.childKeys(pub).isEmpty());
}

void TestSession::refusedFolderChange()
{
    FormHarness h;
    h.server.makeDir("gone");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    QVERIFY(QDir(h.server.path("gone")).removeRecursively());
    h.clickNode(h.serverName() + "/gone");
    QVERIFY(!h.platform.messages.isEmpty());
    QCOMPARE(h.platform.messages.first(), QString("転送先が間違ってます"));
    QVERIFY(!h.f().changeRemoteDir(h.serverName() + "/gone"));
}

void TestSession::changeRemoteDirPaths()
{
    FormHarness h;
    h.server.writeFile("pub/cam/x.jpg", "x");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    const QString server = h.serverName();

    h.server.clearCommands();
    QVERIFY(h.f().changeRemoteDir(server));
    QCOMPARE(h.server.commands().filter("CWD").last(), QString("CWD /"));
    h.server.clearCommands();
    QVERIFY(h.f().changeRemoteDir(server + "/pub/"));
    QCOMPARE(h.server.commands().filter("CWD").last(), QString("CWD /pub"));
    // Without the server name the path is taken as it is: here relative to /pub.
    h.server.clearCommands();
    QVERIFY(h.f().changeRemoteDir("cam"));
    QCOMPARE(h.server.commands().filter("CWD").last(), QString("CWD /pub/cam"));
    QVERIFY(h.platform.messages.isEmpty());

    h.f().changeRemoteDir(QString());
    QCOMPARE(h.platform.messages, QStringList{"変更するディレクトリを選択"});
}

void TestSession::activationNeedsSessionAndSelection()
{
    FormHarness h;
    h.server.makeDir("pub");
    h.server.writeFile("pub/one.jpg", "1");
    QVERIFY(h.start());
    KeyedTree* tree = h.f().TreeView1;
    QWidget* viewport = tree->viewport();
    // Below the last node: the tree's empty space.
    const QPoint blank(viewport->width() / 2, viewport->height() - 4);

    // No session, empty tree: the notification comes all the same.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, blank);
    h.f().settle();
    QCOMPARE(h.platform.messages, QStringList{"実行不能"});

    h.f().click(h.f().cmdConnect);
    QVERIFY(tree->indexAt(blank) == QModelIndex());
    tree->setCurrentItem(nullptr);
    tree->clearSelection();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, blank);
    h.f().settle();
    QCOMPARE(h.platform.messages, QStringList({"実行不能", "実行不能"}));

    // With a folder selected, a click beside the nodes acts on that folder: it opens,
    // and the next one closes it again.
    const QString pub = h.serverName() + "/pub";
    tree->setCurrentItem(tree->node(pub));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, blank);
    h.f().settle();
    QCOMPARE(KeyedTree::imageKey(tree->node(pub)), QString("open"));
    QCOMPARE(h.childKeys(pub), QStringList{pub + "/one.jpg"});
    QVERIFY(tree->indexAt(blank) == QModelIndex());
    QCOMPARE(tree->selectedNode(), tree->node(pub));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, blank);
    h.f().settle();
    QCOMPARE(KeyedTree::imageKey(tree->node(pub)), QString("closed"));
    QVERIFY(h.childKeys(pub).isEmpty());
    QCOMPARE(h.platform.messages.size(), 2);

    // Another button, or the second click of a double click, is no notification: a
    // double click opens the folder once.
    QTest::mouseClick(viewport, Qt::RightButton, {}, blank);
    h.f().settle();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, blank);
    h.f().settle();
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, blank);
    h.f().settle();
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, blank);
    h.f().settle();
    QCOMPARE(KeyedTree::imageKey(tree->node(pub)), QString("open"));
    QCOMPARE(h.platform.messages.size(), 2);
}

void TestSession::duplicateEntriesShownOnce()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    const QString server = h.serverName();
    h.f().listing() = {{"twice", false}, {"twice", false}, {"other", true}};
    h.f().showListing(server + "/pub");
    QCOMPARE(h.childKeys(server + "/pub"), QStringList({server + "/pub/twice", server + "/pub/other"}));
}

void TestSession::disconnect()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    h.f().Label13->setText("running");
    h.f().Timer4->setInterval(500);
    const int handles = openInternetHandleCount();

    h.f().click(h.f().cmdDisconnect);
    QVERIFY(!h.f().TreeView1->contains(h.serverName()));
    QCOMPARE(h.f().TreeView1->count(), 0);
    QVERIFY(h.f().session().listing().isEmpty());
    QVERIFY(!h.f().connected());
    QCOMPARE(h.f().hFtp(), 0);
    QVERIFY(h.f().cmdConnect->isEnabled());
    QVERIFY(!h.f().cmdDisconnect->isEnabled());
    QVERIFY(h.f().Label13->text().isEmpty());
    QVERIFY(!h.f().Timer4->enabled());
    QVERIFY(h.f().hInternet() != 0);
    QCOMPARE(openInternetHandleCount(), handles - 1);
    QTRY_VERIFY(h.server.commands().contains("QUIT"));

    // Connect again on the same Internet handle.
    h.f().click(h.f().cmdConnect);
    QVERIFY(h.f().connected());
}

void TestSession::disconnectAfterServerBoxEdited()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    h.f().click(h.f().cmdConnect);
    h.f().text1->setText("another.example");
    h.f().click(h.f().cmdDisconnect);
    // Never half connected: the node goes and the window is idle again.
    QCOMPARE(h.f().TreeView1->count(), 0);
    QVERIFY(!h.f().connected());
    QVERIFY(h.f().cmdConnect->isEnabled());
    QVERIFY(h.platform.messages.isEmpty());
}

void TestSession::closingTheWindowQuitsTheSession()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    const int before = openInternetHandleCount();
    h.f().click(h.f().cmdConnect);
    QVERIFY(h.f().connected());
    QVERIFY(h.form->close());
    QTRY_VERIFY(h.server.commands().contains("QUIT"));
    QCOMPARE(h.f().hFtp(), 0);
    QCOMPARE(h.f().hInternet(), 0);
    QCOMPARE(h.f().TreeView1->count(), 0);
    QVERIFY(h.f().text1->text().isEmpty() && h.f().text3->text().isEmpty());
    QVERIFY(!h.f().cmdConnect->isEnabled() && !h.f().cmdDisconnect->isEnabled());
    QCOMPARE(openInternetHandleCount(), before - 1);
    QCOMPARE(h.platform.endCalls, 0);
}

QTEST_MAIN(TestSession)
#include "test_session.moc"
