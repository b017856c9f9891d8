#include "ui/frmTockle.h"

#include "platform/gui/Keyboard.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QTextDocument>

// The icons are built into this library; a program linking it statically
// must still register them before use.
static void LoadIcons() {
    Q_INIT_RESOURCE(varnel);
}

namespace varnel {

namespace {

// Positions are in device-independent pixels, 15 twips each.
QLabel* makeCaption(QWidget* panel, const QString& text, int top) {
    auto* label = new QLabel(text, panel);
    label->setGeometry(6, top, 55, 19);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* makeButton(QWidget* panel, const QString& name, const QString& caption,
                        QRect geometry) {
    auto* button = new QPushButton(caption, panel);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

TextBox* makeTextBox(QWidget* panel, const QString& name, QRect geometry) {
    auto* box = new TextBox(panel);
    box->setObjectName(name);
    box->setGeometry(geometry);
    return box;
}

QLabel* makeValue(QWidget* panel, const QString& name, QRect geometry) {
    auto* label = new ValueBox(panel);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText); // a path such as /opt/a<b>c is shown as it is
    label->setGeometry(geometry);
    // The text inside the frame's line on the left and right, centred in the
    // whole height.
    label->setContentsMargins(1, 0, 2, 0);
    label->setIndent(2);
    return label;
}

// The toolkit presents a plain widget as a filler, a top-level one too; a
// screen reader follows the focus only inside the frame it takes for the
// active window. The window is that frame, named by its title.
QAccessibleInterface* WindowAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("varnel::frmTockle") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

frmTockle::frmTockle(const Services& services, QWidget* parent)
    : QWidget(parent), services_(services),
      log_(services.clock, services.folder, services.appender, services.stateFolder),
      store_(services.settings, services.clock, services.folder, services.messages),
      tick_(state_, services.clock, services.starter, log_) {
    setObjectName(QStringLiteral("frmTockle"));
    setWindowTitle(QStringLiteral("Oribeth"));
    LoadIcons();
    QIcon icon(QStringLiteral(":/varnel/varnel.png"));
    icon.addFile(QStringLiteral(":/varnel/varnel-16.png"));
    setWindowIcon(icon);
    // The window has one size. Its hints ask for minimise and close only,
    // which X11 window managers and KWin honour; the toolkit's own title bar
    // (GNOME, Weston) shows a maximise button all the same, and a maximise
    // from there or from a shortcut is undone (changeEvent).
    setFixedSize(278, 59);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    static const bool presented = (QAccessible::installFactory(WindowAccessible), true);
    Q_UNUSED(presented);

    // The panels are plain containers, flat, one over the other.
    picInput = new QWidget(this);
    picInput->setObjectName(QStringLiteral("picInput"));
    picInput->setGeometry(2, 2, 275, 55);
    txtTime = makeTextBox(picInput, QStringLiteral("txtTime"), QRect(64, 8, 53, 18));
    // A time typed with a Japanese input method on lands in ASCII; the input
    // method is told that the field wants a time.
    txtTime->fold = FoldTimeText;
    txtTime->setValidator(new TimeTextFolder(txtTime));
    txtTime->setInputMethodHints(Qt::ImhTime | Qt::ImhPreferNumbers);
    cmdTimeDown = makeButton(picInput, QStringLiteral("cmdTimeDown"), QStringLiteral("▼"),
                             QRect(120, 10, 23, 15));
    cmdTimeUp = makeButton(picInput, QStringLiteral("cmdTimeUp"), QStringLiteral("▲"),
                           QRect(144, 10, 23, 15));
    txtFile = makeTextBox(picInput, QStringLiteral("txtFile"), QRect(64, 26, 193, 18));
    cmdStart = makeButton(picInput, QStringLiteral("cmdStart"), QStringLiteral("開始"),
                          QRect(198, 8, 59, 17));
    Label[0] = makeCaption(picInput, QStringLiteral("起動時刻"), 10);
    Label[1] = makeCaption(picInput, QStringLiteral("ファイル"), 30);

    picRun = new QWidget(this);
    picRun->setObjectName(QStringLiteral("picRun"));
    picRun->setGeometry(2, 58, 275, 55);
    cmdStop = makeButton(picRun, QStringLiteral("cmdStop"), QStringLiteral("停止"),
                         QRect(198, 8, 59, 17));
    Label[2] = makeCaption(picRun, QStringLiteral("ファイル"), 30);
    Label[3] = makeCaption(picRun, QStringLiteral("起動時刻"), 10);
    lblTime = makeValue(picRun, QStringLiteral("lblTime"), QRect(64, 8, 79, 17));
    lblFile = makeValue(picRun, QStringLiteral("lblFile"), QRect(64, 26, 193, 17));

    // What a screen reader announces. The fields are named by their captions,
    // the stepper buttons by what they do rather than by their glyphs, and
    // the values of the running panel by their captions too.
    Label[0]->setBuddy(txtTime);
    Label[1]->setBuddy(txtFile);
    cmdTimeDown->setAccessibleName(QStringLiteral("起動時刻を1分戻す"));
    cmdTimeUp->setAccessibleName(QStringLiteral("起動時刻を1分進める"));
    lblTime->setAccessibleName(Label[3]->text());
    lblFile->setAccessibleName(Label[2]->text());

    setTabOrder(txtTime, cmdTimeDown);
    setTabOrder(cmdTimeDown, cmdTimeUp);
    setTabOrder(cmdTimeUp, txtFile);
    setTabOrder(txtFile, cmdStart);
    setTabOrder(cmdStart, cmdStop);

    tmrKick = new KickTimer(services.clock, services.alarm, services.zoneWatch, state_, this);
    tmrKick->setObjectName(QStringLiteral("tmrKick"));
    connect(tmrKick, &KickTimer::timeout, this, &frmTockle::tmrKick_Timer);
    tmrMouse = new QTimer(this);
    tmrMouse->setObjectName(QStringLiteral("tmrMouse"));
    tmrMouse->setInterval(100);
    connect(tmrMouse, &QTimer::timeout, this, &frmTockle::tmrMouse_Timer);

    connect(cmdStart, &QPushButton::clicked, this, &frmTockle::cmdStart_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmTockle::cmdStop_Click);
    connect(cmdTimeUp, &QPushButton::clicked, this, &frmTockle::cmdTimeUp_Click);
    connect(cmdTimeDown, &QPushButton::clicked, this, &frmTockle::cmdTimeDown_Click);
    cmdTimeUp->installEventFilter(this);
    cmdTimeDown->installEventFilter(this);

    txtTime->onGotFocus = [this] { SelectAllText(txtTime); };
    txtFile->onGotFocus = [this] { SelectAllText(txtFile); };
    txtTime->onKeyPress = [this](int& keyCode) { EnterToTab(keyCode); };
    txtFile->onKeyPress = [this](int& keyCode) { EnterToTab(keyCode); };
    txtFile->onDblClick = [this] { txtFile_DblClick(); };
}

void frmTockle::Form_Load() {
    loading_ = true;
    setKickEnabled(false);
    picRun->move(picInput->pos());
    store_.LoadSettings(state_.LaunchTime, state_.LaunchFile);
    txtTime->setText(state_.LaunchTime);
    txtFile->setText(state_.LaunchFile);
    picRun->hide();
    picInput->show();
    WriteLog(NormalEvent, EventMessage(kOpenHead, state_.LaunchTime, state_.LaunchFile));
    loading_ = false;
    if (pendingClose_)
        close();
}

void frmTockle::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    emit closing();
    endRepeat();
    store_.SaveSettings(state_.LaunchTime, state_.LaunchFile);
    WriteLog(NormalEvent, EventMessage(kCloseHead, state_.LaunchTime, state_.LaunchFile));
    setKickEnabled(false);
}

void frmTockle::requestClose() {
    if (loading_)
        pendingClose_ = true;
    else
        close();
}

void frmTockle::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void frmTockle::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        endRepeat();
    // A maximise leaves the fixed window as it was.
    if (event->type() == QEvent::WindowStateChange &&
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
        });
    QWidget::changeEvent(event);
}

void frmTockle::WriteLog(qint32 kind, const QString& message) {
    log_.write(kind, message, state_.LaunchFile);
}

// ---- Start and Stop ----

void frmTockle::cmdStart_Click() {
    const std::optional<QString> time = CheckTime(txtTime->text());
    if (!time) {
        services_.messages.show(QStringLiteral("起動時刻は「HH:MM」形式で入力して下さい。"));
        txtTime->enter();
        return;
    }
    if (!CheckFile(services_.files, txtFile->text())) {
        services_.messages.show(QStringLiteral("指定されたファイルが存在しません。"));
        txtFile->enter();
        return;
    }
    state_.LaunchTime = *time;
    state_.LaunchFile = txtFile->text();
    lblTime->setText(state_.LaunchTime);
    // A long path keeps the program's name in view: cut in the middle to the
    // room the label draws in (inside its frame, after its indent), whole in
    // its tooltip, which shows it as plain text as the label does.
    lblFile->setText(QFontMetricsF(lblFile->font())
                         .elidedText(state_.LaunchFile, Qt::ElideMiddle,
                                     lblFile->contentsRect().width() - lblFile->indent()));
    lblFile->setToolTip(Qt::convertFromPlainText(state_.LaunchFile, Qt::WhiteSpacePre));
    // Named by their captions, the values are what a screen reader reads next.
    lblTime->setAccessibleDescription(state_.LaunchTime);
    lblFile->setAccessibleDescription(state_.LaunchFile);
    picRun->show();
    picInput->hide();
    setKickEnabled(true);
    WriteLog(NormalEvent, EventMessage(kArmHead, state_.LaunchTime, state_.LaunchFile));
}

void frmTockle::cmdStop_Click() {
    txtTime->setText(state_.LaunchTime);
    txtFile->setText(state_.LaunchFile);
    picRun->hide();
    picInput->show();
    setKickEnabled(false);
    txtTime->enter();
}

// ---- The launch tick ----

void frmTockle::setKickEnabled(bool enabled) {
    if (enabled)
        tmrKick->start();
    else
        tmrKick->stop();
}

void frmTockle::tmrKick_Timer(ClockReading now) {
    if (tmrKick->isActive())
        tick_.runAt(now);
}

// ---- The stepper ----

void frmTockle::stepTime(int direction) {
    const std::optional<QString> stepped = StepTime(state_.LaunchTime, direction);
    if (!stepped)
        return;
    state_.LaunchTime = *stepped;
    txtTime->setText(state_.LaunchTime);
}

void frmTockle::cmdTimeUp_Click() {
    stepTime(+1);
}

void frmTockle::cmdTimeDown_Click() {
    stepTime(-1);
}

void frmTockle::mouseDown(qint32 direction) {
    state_.RepeatDirection = direction;
    tmrMouse->start();
}

void frmTockle::endRepeat() {
    state_.RepeatDirection = RepeatNone;
    tmrMouse->stop();
}

void frmTockle::tmrMouse_Timer() {
    if (state_.RepeatDirection == RepeatUp)
        cmdTimeUp_Click();
    if (state_.RepeatDirection == RepeatDown)
        cmdTimeDown_Click();
}

bool frmTockle::eventFilter(QObject* watched, QEvent* event) {
    if (watched != cmdTimeUp && watched != cmdTimeDown)
        return QWidget::eventFilter(watched, event);
    const bool up = watched == cmdTimeUp;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        mouseDown(up ? RepeatUp : RepeatDown);
        break;
    case QEvent::MouseButtonRelease:
        endRepeat();
        break;
    case QEvent::KeyPress:
        if (KeyCodeOf(static_cast<QKeyEvent*>(event)) != 0)
            up ? cmdTimeUp_Click() : cmdTimeDown_Click();
        break;
    case QEvent::Hide:
        endRepeat();
        break;
    default:
        break;
    }
    return false; // the button goes on to handle the event as usual
}

// ---- Entry fields and the file chooser ----

void frmTockle::SelectAllText(QLineEdit* field) {
    field->setSelection(0, field->text().size());
}

bool frmTockle::EnterToTab(int& keyCode) {
    if (keyCode != 13)
        return false;
    QueueTabKey(this);
    keyCode = 0;
    return true;
}

void frmTockle::txtFile_DblClick() {
    const std::optional<QString> chosen =
        services_.fileDialog.openFile(kChooserFilter, kChooserPreselected, state_.LaunchFile);
    if (!chosen)
        return;
    state_.LaunchFile = *chosen;
    txtFile->setText(state_.LaunchFile);
}

} // namespace varnel
