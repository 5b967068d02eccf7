// Connect, Disconnect, closing the window, and the server's folders in the tree,
// against a real FTP server.
#include "formharness.h"

#include <QDir>
#include <QTest>

namespace {
const QString kEnterAll = QStringLiteral("サ－バ－名、ID、パスワードを入れてください！");

int countOf(const QStringList& commands, const QString& prefix)
{
    int n = 0;
    for (const QString& c : commands)
        n += c.startsWith(prefix) ? 1 : 0;
    return n;
}
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
    QLineEdit* boxes[] = {h.form->text1, h.form->text2, h.form->text3};
    boxes[emptyBox]->clear();
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    QCOMPARE(h.platform.messages, QStringList{kEnterAll});
    QVERIFY(!h.form->bConnected);
    QCOMPARE(h.form->hFtp, 0);
    QCOMPARE(countOf(h.server.commands(), "USER"), 0);
    QVERIFY(h.form->cmdConnect->isEnabled());
}

void TestSession::connectDoesNothingWhenConnectedOrWithoutInternetHandle()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    QVERIFY(h.form->bConnected);
    QVERIFY(!h.form->cmdConnect->isEnabled());
    QVERIFY(h.form->cmdDisconnect->isEnabled());
    const HINTERNET session = h.form->hFtp;
    h.form->cmdConnect_Click(); // the button is locked, but the handler must hold too
    QCOMPARE(h.form->hFtp, session);
    QCOMPARE(countOf(h.server.commands(), "USER"), 1);

    h.form->cmdDisconnect_Click();
    const HINTERNET internet = h.form->hInternet;
    h.form->hInternet = 0;
    h.form->cmdConnect_Click();
    QVERIFY(!h.form->bConnected);
    QCOMPARE(countOf(h.server.commands(), "USER"), 1);
    QVERIFY(h.platform.messages.isEmpty());
    h.form->hInternet = internet;
}

void TestSession::wrongPasswordIsReportedWithTheServersReply()
{
    FormHarness h;
    QVERIFY(h.start());
    h.form->text3->setText("wrong");
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    QCOMPARE(h.platform.messages.size(), 1);
    QCOMPARE(h.platform.messages[0], QString("InternetConnect Extd Err: 530 530 Login incorrect."));
    QVERIFY(!h.form->bConnected);
    QCOMPARE(h.form->hFtp, 0);
    QCOMPARE(h.form->TreeView1->count(), 0);
    QVERIFY(h.form->cmdConnect->isEnabled());
}

void TestSession::multiLineReplyShownWhole()
{
    FtpTestServerOptions options;
    options.refuseLogin = true;
    options.refuseText = "Not today.\nTry again tomorrow.";
    FormHarness h(options);
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
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
        h.form->ErrorOut(code, "InternetConnect");
    QVERIFY(h.platform.messages.isEmpty());

    // A server that is not there is not a server reply: nothing to show, still idle.
    h.form->text1->setText("127.0.0.1:1");
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    QVERIFY(h.platform.messages.isEmpty());
    QVERIFY(!h.form->bConnected);
}

void TestSession::treeAfterConnect()
{
    FormHarness h;
    h.server.makeDir("pub");
    h.server.writeFile("a.txt", "hello");
    h.server.writeFile("photo 1.jpg", "x");
    h.server.writeFile("写真.jpg", "x");
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    QVERIFY(h.platform.messages.isEmpty());

    const QString server = h.serverName();
    KeyedTree* tree = h.form->TreeView1;
    QTreeWidgetItem* root = tree->node(server);
    QVERIFY(root);
    QCOMPARE(KeyedTree::imageKey(root), QString("root"));
    QCOMPARE(KeyedTree::text(root), server);
    QVERIFY(root->isExpanded());

    // The children follow the server's order, which is the listing's.
    QStringList expected;
    for (const QString& name : h.form->colNames)
        expected << server + "/" + name;
    QCOMPARE(h.childKeys(server), expected);
    QCOMPARE(QSet<QString>(h.form->colNames.begin(), h.form->colNames.end()),
             QSet<QString>({"pub", "a.txt", "photo 1.jpg", "写真.jpg"}));
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
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    const QString pub = h.serverName() + "/pub";

    h.server.clearCommands();
    h.clickNode(pub);
    QCOMPARE(KeyedTree::imageKey(h.form->TreeView1->node(pub)), QString("open"));
    const QStringList children = h.childKeys(pub);
    QCOMPARE(QSet<QString>(children.begin(), children.end()), QSet<QString>({pub + "/one.jpg", pub + "/deeper"}));
    QVERIFY(h.server.commands().contains("CWD /pub"));
    QCOMPARE(KeyedTree::imageKey(h.form->TreeView1->node(pub + "/deeper")), QString("closed"));

    // One level further down, then close the upper folder: the whole subtree goes.
    h.clickNode(pub + "/deeper");
    QCOMPARE(h.childKeys(pub + "/deeper"), QStringList{pub + "/deeper/two.jpg"});
    h.clickNode(pub);
    QCOMPARE(KeyedTree::imageKey(h.form->TreeView1->node(pub)), QString("closed"));
    QVERIFY(h.childKeys(pub).isEmpty());
    QVERIFY(!h.form->TreeView1->contains(pub + "/deeper/two.jpg"));
    // Files and the server node are left alone.
    h.clickNode(h.serverName() + "/pub");
    h.clickNode(pub + "/one.jpg");
    QCOMPARE(KeyedTree::imageKey(h.form->TreeView1->node(pub + "/one.jpg")), QString("leaf"));
    QVERIFY(h.platform.messages.isEmpty());
}

void TestSession::emptyFolder()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    const QString pub = h.serverName() + "/pub";
    h.clickNode(pub);
    QCOMPARE(h.platform.messages, QStringList{"このディレクトリは空です！"});
    QCOMPARE(KeyedTree::imageKey(h.form->TreeView1->node(pub)), QString("open"));
    QVERIFY(h.childKeys(pub).isEmpty());
}

void TestSession::refusedFolderChange()
{
    FormHarness h;
    h.server.makeDir("gone");
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    QVERIFY(QDir(h.server.path("gone")).removeRecursively());
    h.clickNode(h.serverName() + "/gone");
    QVERIFY(!h.platform.messages.isEmpty());
    QCOMPARE(h.platform.messages.first(), QString("転送先が間違ってます"));
    QCOMPARE(h.form->bCdFailed, 1);
}

void TestSession::changeRemoteDirPaths()
{
    FormHarness h;
    h.server.writeFile("pub/cam/x.jpg", "x");
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    const QString server = h.serverName();

    h.server.clearCommands();
    h.form->ChangeRemoteDir(server);
    QCOMPARE(h.server.commands().filter("CWD").last(), QString("CWD /"));
    h.server.clearCommands();
    h.form->ChangeRemoteDir(server + "/pub/");
    QCOMPARE(h.server.commands().filter("CWD").last(), QString("CWD /pub"));
    // Without the server name the path is taken as it is: here relative to /pub.
    h.server.clearCommands();
    h.form->ChangeRemoteDir("cam");
    QCOMPARE(h.server.commands().filter("CWD").last(), QString("CWD /pub/cam"));
    QVERIFY(h.platform.messages.isEmpty());
    QCOMPARE(h.form->bCdFailed, 0);

    h.form->ChangeRemoteDir(QString());
    QCOMPARE(h.platform.messages, QStringList{"変更するディレクトリを選択"});
}

void TestSession::activationNeedsSessionAndSelection()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    h.form->TreeView1_MouseUp();
    QCOMPARE(h.platform.messages, QStringList{"実行不能"});

    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    h.form->TreeView1->setCurrentItem(nullptr);
    h.form->TreeView1->clearSelection();
    h.form->TreeView1_MouseUp();
    QCOMPARE(h.platform.messages, QStringList({"実行不能", "実行不能"}));
}

void TestSession::duplicateEntriesShownOnce()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    const QString server = h.serverName();
    h.form->colNames = QStringList{"twice", "twice", "other"};
    h.form->colAttrs = {128, 128, 16};
    h.form->ShowListing(server + "/pub");
    QCOMPARE(h.childKeys(server + "/pub"), QStringList({server + "/pub/twice", server + "/pub/other"}));
}

void TestSession::disconnect()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    h.form->Label13->setText("running");
    h.form->Timer4->setInterval(500);
    const int handles = OpenInternetHandleCount();

    QTest::mouseClick(h.form->cmdDisconnect, Qt::LeftButton);
    QVERIFY(!h.form->TreeView1->contains(h.serverName()));
    QCOMPARE(h.form->TreeView1->count(), 0);
    QVERIFY(h.form->colNames.isEmpty() && h.form->colAttrs.isEmpty());
    QVERIFY(!h.form->bConnected);
    QCOMPARE(h.form->hFtp, 0);
    QVERIFY(h.form->cmdConnect->isEnabled());
    QVERIFY(!h.form->cmdDisconnect->isEnabled());
    QVERIFY(h.form->Label13->text().isEmpty());
    QVERIFY(!h.form->Timer4->enabled());
    QVERIFY(h.form->hInternet != 0);
    QCOMPARE(OpenInternetHandleCount(), handles - 1);
    QTRY_VERIFY(h.server.commands().contains("QUIT"));

    // Connect again on the same Internet handle.
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    QVERIFY(h.form->bConnected);
}

void TestSession::disconnectAfterServerBoxEdited()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    h.form->text1->setText("another.example");
    QTest::mouseClick(h.form->cmdDisconnect, Qt::LeftButton);
    // Never half connected: the node goes and the window is idle again.
    QCOMPARE(h.form->TreeView1->count(), 0);
    QVERIFY(!h.form->bConnected);
    QVERIFY(h.form->cmdConnect->isEnabled());
    QVERIFY(h.platform.messages.isEmpty());
}

void TestSession::closingTheWindowQuitsTheSession()
{
    FormHarness h;
    h.server.makeDir("pub");
    QVERIFY(h.start());
    const int before = OpenInternetHandleCount();
    QTest::mouseClick(h.form->cmdConnect, Qt::LeftButton);
    QVERIFY(h.form->bConnected);
    QVERIFY(h.form->close());
    QTRY_VERIFY(h.server.commands().contains("QUIT"));
    QCOMPARE(h.form->hFtp, 0);
    QCOMPARE(h.form->hInternet, 0);
    QCOMPARE(h.form->TreeView1->count(), 0);
    QVERIFY(h.form->text1->text().isEmpty() && h.form->text3->text().isEmpty());
    QVERIFY(!h.form->cmdConnect->isEnabled() && !h.form->cmdDisconnect->isEnabled());
    QCOMPARE(OpenInternetHandleCount(), before - 1);
    QCOMPARE(h.platform.endCalls, 0);
}

QTEST_MAIN(TestSession)
#include "test_session.moc"
