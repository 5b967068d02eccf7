// The window's controls: kind, caption, place, font and colour of each, and the tab order.
#include "window/app/ftpForm.h"

#include "core/base/eventLog.h"
#include "window/app/messages.h"
#include "window/app/platform.h"
#include "window/ftp/keyedTree.h"
#include "window/local/dirListBox.h"
#include "window/local/driveListBox.h"
#include "window/local/fileListBox.h"
#include "window/scheduler/formTimer.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStorageInfo>

#include <limits>

namespace {

const QString kJapaneseFont = QStringLiteral("ＭＳ Ｐゴシック");

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

QFont japaneseFont(double points, bool bold)
{
    QFont font(kJapaneseFont);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

template <typename W>
W* make(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    place(w, left, top, width, height);
    return w;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h)
{
    auto* lbl = make<QLabel>(parent, name, l, t, w, h);
    lbl->setText(caption);
    return lbl;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const char* colour, int l, int t, int w,
                    int h)
{
    auto* b = make<QPushButton>(parent, name, l, t, w, h);
    b->setText(caption);
    // The colour goes into the palette rather than a style sheet: a style sheet on
    // each of eleven buttons makes the window noticeably slower to open.
    QPalette pal = b->palette();
    pal.setColor(QPalette::Button, QColor(QString::fromLatin1(colour)));
    b->setPalette(pal);
    return b;
}

QLineEdit* textBox(QWidget* parent, const char* name, int l, int t, int w, int h)
{
    auto* box = make<QLineEdit>(parent, name, l, t, w, h);
    // The boxes have no length limit of their own; Qt's default would cut long text
    // silently, and the cut text would then be what is saved.
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

QFrame* line(QWidget* parent, const char* name, int x1, int y1, int x2, int y2)
{
    auto* f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    const bool horizontal = y1 == y2;
    f->setFrameShape(horizontal ? QFrame::HLine : QFrame::VLine);
    f->setFrameShadow(QFrame::Sunken);
    if (horizontal)
        f->setGeometry(twips(x1), twips(y1) - 1, twips(x2 - x1), 3);
    else
        f->setGeometry(twips(x1) - 1, twips(y1), 3, twips(y2 - y1));
    return f;
}

} // namespace

FTPform::FTPform(Platform& platform, QWidget* parent)
    : QWidget(parent), m_platform(platform), m_endWaits(new QObject(this))
{
    createControls();
    connectHandlers();
    setTabOrder();
    m_session.setOnAnswer([this] { serveWaiting(); });
}

FTPform::~FTPform() = default;

void FTPform::createControls()
{
    // The Japanese system font the layout names is not on every machine; the nearest
    // Japanese gothic stands in for it.
    QFont::insertSubstitutions(
        kJapaneseFont, {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans CJK JP")});

    setObjectName(QStringLiteral("FTPform"));
    // The window's own font, which the controls that name none take.
    setFont(japaneseFont(9, false));
    setWindowTitle(QStringLiteral("Skylark"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    setPalette(pal);
    resize(twips(8640), twips(5370));

    // Connection area.
    Label2 = label(this, "Label2", QStringLiteral("Server Name"), 360, 120, 1095, 255);
    text1 = textBox(this, "text1", 1440, 120, 1935, 270);
    Label3 = label(this, "Label3", QStringLiteral("User Name"), 3480, 120, 975, 255);
    text2 = textBox(this, "text2", 4440, 225, 1335, 270);
    label4 = label(this, "label4", QStringLiteral("Password"), 5880, 120, 855, 255);
    text3 = textBox(this, "text3", 6720, 225, 1335, 270);
    text3->setEchoMode(QLineEdit::Password);
    text3->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    txtProxy = textBox(this, "txtProxy", 6240, 720, 1095, 435);
    txtProxy->setVisible(false);
    chkPassive = make<QCheckBox>(this, "chkPassive", 3480, 840, 2175, 255);
    chkPassive->setText(QStringLiteral("Passive FTP syntax"));
    chkPassive->setVisible(false);
    cmdConnect = button(this, "cmdConnect", QStringLiteral("Connect"), "#E0E0E0", 120, 2400, 2415, 375);
    cmdConnect->setFont(japaneseFont(9.75, true));
    cmdDisconnect = button(this, "cmdDisconnect", QStringLiteral("Disconnect"), "#C0C0C0", 120, 2880, 2415, 375);
    cmdDisconnect->setFont(japaneseFont(9.75, true));

    // Remote tree, and the transfer controls nothing ever shows.
    TreeView1 = make<KeyedTree>(this, "TreeView1", 240, 480, 3735, 1815);
    cmdGet = button(this, "cmdGet", QStringLiteral("-->Get-->"), "#C0C0C0", 3960, 2520, 975, 375);
    cmdGet->setVisible(false);
    cmdPut = button(this, "cmdPut", QStringLiteral("<--Put<--"), "#C0C0C0", 3960, 3120, 975, 375);
    cmdPut->setVisible(false);
    optBin = make<QRadioButton>(this, "optBin", 4080, 1320, 855, 375);
    optBin->setText(QStringLiteral("Binary"));
    optBin->setVisible(false);
    optAscii = make<QRadioButton>(this, "optAscii", 4080, 1920, 735, 195);
    optAscii->setText(QStringLiteral("Ascii"));
    optAscii->setVisible(false);

    // Local browser and clock.
    Drive1 = make<DriveListBox>(this, "Drive1", 4200, 480, 4215, 300);
    Dir1 = make<DirListBox>(this, "Dir1", 4200, 840, 2055, 1350);
    File1 = make<FileListBox>(this, "File1", 6360, 840, 2055, 1170);
    Label6 = label(this, "Label6", QString(), 6360, 2400, 2055, 375);
    Label6->setFont(japaneseFont(15.75, true));

    // Scheduler area.
    Line2 = line(this, "Line2", 120, 3360, 8520, 3360);
    Line1 = line(this, "Line1", 2760, 3480, 2760, 5280);
    Label13 = label(this, "Label13", QString(), 3360, 3000, 4935, 255);
    Label13->setFont(japaneseFont(11.25, true));
    Command3 = button(this, "Command3", QStringLiteral("下の指定時間でこのPG終了"), "#E0E0E0", 120, 3480, 2415, 375);
    Text11 = textBox(this, "Text11", 360, 3960, 375, 375);
    Text11->setFont(japaneseFont(9.75, false));
    Label1 = label(this, "Label1", QStringLiteral("時"), 840, 4080, 255, 255);
    Text10 = textBox(this, "Text10", 1080, 3960, 375, 375);
    Text10->setFont(japaneseFont(9.75, false));
    Label5 = label(this, "Label5", QStringLiteral("分"), 1560, 4080, 255, 255);
    Text9 = textBox(this, "Text9", 1800, 3960, 375, 375);
    Text9->setFont(japaneseFont(9.75, false));
    Label9 = label(this, "Label9", QStringLiteral("秒"), 2280, 4080, 255, 255);
    Label10 = label(this, "Label10", QString(), 360, 4560, 2295, 255);
    Label10->setFont(japaneseFont(12, true));
    Command7 = button(this, "Command7", QStringLiteral("PG終了取り消し"), "#C0C0C0", 240, 4920, 2295, 375);
    Command4 = button(this, "Command4", QStringLiteral("下の時間に毎時転送"), "#E0E0E0", 2880, 3480, 1935, 375);
    Text8 = textBox(this, "Text8", 3360, 3960, 375, 375);
    Text8->setFont(japaneseFont(9.75, false));
    Label7 = label(this, "Label7", QStringLiteral("分"), 3840, 4080, 255, 255);
    Text6 = textBox(this, "Text6", 4080, 3960, 375, 375);
    Text6->setFont(japaneseFont(9.75, false));
    Label8 = label(this, "Label8", QStringLiteral("秒"), 4560, 4080, 255, 255);
    Label11 = label(this, "Label11", QStringLiteral("右の上段から下段へ"), 3000, 4440, 1815, 255);
    Command6 = button(this, "Command6", QStringLiteral("毎時転送停止"), "#C0C0C0", 3000, 4920, 1815, 375);
    Command5 =
        button(this, "Command5", QStringLiteral("上段から下段へマニュアル転送"), "#E0E0E0", 4920, 3480, 3495, 375);
    Command5->setFont(japaneseFont(9, true));
    Text5 = textBox(this, "Text5", 4920, 3840, 3495, 375);
    text4 = textBox(this, "text4", 4920, 4320, 3495, 375);
    Command1 = button(this, "Command1", QStringLiteral("設定保存"), "#C0C0C0", 5640, 4920, 1215, 375);
    Command2 = button(this, "Command2", QStringLiteral("End"), "#C0C0C0", 7680, 4920, 735, 375);
    Command2->setFont(japaneseFont(9, true));

    // Timers: enabled, interval 0, so none ticks until something gives it an interval.
    Timer3 = new FormTimer(this);
    Timer4 = new FormTimer(this);
    Timer5 = new FormTimer(this);
    Timer6 = new FormTimer(this);
    Timer7 = new FormTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer4->setObjectName(QStringLiteral("Timer4"));
    Timer5->setObjectName(QStringLiteral("Timer5"));
    Timer6->setObjectName(QStringLiteral("Timer6"));
    Timer7->setObjectName(QStringLiteral("Timer7"));

    // A drive without a medium cannot be shown; the folder list asks the drive list.
    Dir1->setReadinessCheck([this](const QString& p) { return Drive1->isReady(p); });
    // The lists start at the current folder, as the old controls did. The folder and
    // file lists have read it when they were made; reading it again here would only
    // double their start-up work.
    try {
        Drive1->setDrive(QStorageInfo(QDir::currentPath()).rootPath());
    } catch (const std::exception&) {
        // The current folder lies on no listed volume: the drive list keeps its own choice.
    }
}

// A handler goes with its own name, which a fault it ends on is logged under, and with
// what else dispatch() is to know of it.
// NOLINTNEXTLINE(bugprone-macro-parentheses): a member's name cannot be parenthesised
#define SKYLARK_HANDLER(name, ...) [this] { dispatch(&FTPform::name, #name __VA_OPT__(, ) __VA_ARGS__); }

void FTPform::connectHandlers()
{
    connect(Drive1, &DriveListBox::driveChanged, this, SKYLARK_HANDLER(Drive1_Change));
    connect(Dir1, &DirListBox::pathChanged, this, SKYLARK_HANDLER(Dir1_Change));
    connect(Command1, &QPushButton::clicked, this, SKYLARK_HANDLER(Command1_Click));
    connect(Command2, &QPushButton::clicked, this, SKYLARK_HANDLER(Command2_Click));
    connect(cmdConnect, &QPushButton::clicked, this, SKYLARK_HANDLER(cmdConnect_Click, Source::Click));
    connect(cmdDisconnect, &QPushButton::clicked, this, SKYLARK_HANDLER(cmdDisconnect_Click, Source::Click));
    connect(TreeView1, &KeyedTree::mouseNotification, this, SKYLARK_HANDLER(TreeView1_MouseUp, Source::Click));
    connect(Command3, &QPushButton::clicked, this, SKYLARK_HANDLER(Command3_Click, kSettingsMissing));
    connect(Command7, &QPushButton::clicked, this, SKYLARK_HANDLER(Command7_Click));
    // After its range check the arming ends silently on a fault.
    connect(Command4, &QPushButton::clicked, this, SKYLARK_HANDLER(Command4_Click));
    connect(Command6, &QPushButton::clicked, this, SKYLARK_HANDLER(Command6_Click));
    connect(Command5, &QPushButton::clicked, this, SKYLARK_HANDLER(Command5_Click, Source::Click, kSettingsMissing));
    connect(Timer3, &FormTimer::timeout, this, SKYLARK_HANDLER(Timer3_Timer));
    connect(Timer4, &FormTimer::timeout, this, SKYLARK_HANDLER(Timer4_Timer, Source::Timer, kSettingsWrong));
    connect(Timer5, &FormTimer::timeout, this, SKYLARK_HANDLER(Timer5_Timer, Source::Timer, kSettingsWrong));
    // The disconnect stage ends its tick without a word to the operator.
    connect(Timer6, &FormTimer::timeout, this, SKYLARK_HANDLER(Timer6_Timer, Source::Timer));
    connect(Timer7, &FormTimer::timeout, this, SKYLARK_HANDLER(Timer7_Timer, kSettingsWrong));
}

#undef SKYLARK_HANDLER

void FTPform::setTabOrder()
{
    const QList<QWidget*> order = {
        txtProxy,  text1,  text2,  text3,  cmdConnect, cmdDisconnect, chkPassive, Drive1,   Dir1,     File1,
        TreeView1, cmdGet, cmdPut, optBin, optAscii,   Command1,      Command2,   Command3, Command4, Text8,
        Text6,     Text11, Text10, Text9,  text4,      Command5,      Text5,      Command6, Command7};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    // Labels and lines never take the keyboard focus.
    for (QWidget* w : {static_cast<QWidget*>(Label6), static_cast<QWidget*>(Label13)})
        w->setFocusPolicy(Qt::NoFocus);
}

bool FTPform::guarded(const char* name, const QString& faultMessage, const std::function<void()>& step, BoxWait wait)
{
    try {
        step();
        return true;
    } catch (const std::exception&) {
        reportFault(name, faultMessage, std::current_exception(), wait);
        return false;
    }
}

void FTPform::reportFault(const char* name, const QString& faultMessage, const std::exception_ptr& fault, BoxWait wait)
{
    // The handler stops where the fault happened; what it did before stays done. The
    // fault must leave a trace, and the operator hears of it only in the handler's words.
    try {
        std::rethrow_exception(fault);
    } catch (const std::exception& what) {
        eventlog::fault(name, what, faultMessage.isEmpty() ? QString() : QStringLiteral("shown: ") + faultMessage);
    } catch (...) {
        eventlog::error(QStringLiteral("fault: handler=%1 ended on an unknown fault").arg(QLatin1String(name)));
    }
    if (faultMessage.isEmpty())
        return;
    if (wait == BoxWait::UntilClosed)
        m_platform.showMessageAndWait(faultMessage);
    else
        m_platform.showMessage(faultMessage);
}

void FTPform::dispatch(void (FTPform::*handler)(), const char* name, const QString& faultMessage)
{
    guarded(name, faultMessage, [this, handler] { (this->*handler)(); });
}

void FTPform::dispatch(AsyncHandler handler, const char* name, Source source, const QString& faultMessage)
{
    if (source == Source::Click && (m_session.busy() || !m_waitingClicks.empty())) {
        // Served after the call under way, with the tree's selection of this moment.
        QTreeWidgetItem* selected = TreeView1->selectedNode();
        m_waitingClicks.push_back({handler, name, faultMessage, selected ? KeyedTree::key(selected) : QString()});
        eventlog::info(QStringLiteral("click: %1 waits for the call under way").arg(QLatin1String(name)));
        showBusy();
        return;
    }
    startHandler(handler, name, source, faultMessage);
}

void FTPform::startHandler(AsyncHandler handler, const char* name, Source source, const QString& faultMessage)
{
    const bool clicked = source == Source::Click;
    if (clicked)
        ++m_clicksRunning;
    m_handlers.start((this->*handler)(), [this, name, clicked, faultMessage](const std::exception_ptr& fault) {
        if (fault)
            reportFault(name, faultMessage, fault);
        if (clicked)
            --m_clicksRunning;
    });
    showBusy();
}

void FTPform::serveWaiting()
{
    while (!m_session.busy() && !m_waitingClicks.empty()) {
        const WaitingClick click = m_waitingClicks.front();
        m_waitingClicks.pop_front();
        // The tree as the click found it: its node, if that is still there.
        if (click.handler == &FTPform::TreeView1_MouseUp) {
            if (QTreeWidgetItem* node = TreeView1->node(click.selectedKey)) {
                TreeView1->setCurrentItem(node);
            } else {
                TreeView1->setCurrentItem(nullptr);
                TreeView1->clearSelection();
            }
        }
        startHandler(click.handler, click.name, Source::Click, click.faultMessage);
    }
    if (!m_session.busy() && m_waitingClicks.empty())
        startHourly(m_hourly.idle(hourlyTick()));
    showBusy();
}

void FTPform::showBusy()
{
    // While a call the operator started runs, or a click waits for one.
    const bool busy = (m_clicksRunning > 0 && m_session.busy()) || !m_waitingClicks.empty();
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void FTPform::closeEvent(QCloseEvent* event)
{
    // The unload is never cancelled.
    Form_Unload();
    event->accept();
}
