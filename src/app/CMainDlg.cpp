#include "app/CMainDlg.h"

#include "app/CAboutDlg.h"
#include "app/NewTokenFlow.h"
#include "app/PinButtons.h"
#include "app/SeedRecordsDlg.h"
#include "app/TokenButtons.h"
#include "app/TokenListView.h"
#include "device/KeyDirWatcher.h"
#include "records/SeedFolder.h"
#include "ui/AppIcon.h"
#include "ui/BusyCursor.h"
#include "ui/DialogKeys.h"
#include "ui/DialogUnits.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QTimer>
#include <QTreeWidget>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::ui;

namespace otp::app {

namespace {

constexpr int kColumnWidths[] = {180, 60, 60, 60, 60};

QString withoutMnemonic(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

} // namespace

CMainDlg::CMainDlg(DeviceApi& device) : CMainDlg(device, Options{}) {}

CMainDlg::CMainDlg(DeviceApi& device, Options options)
    : QDialog(nullptr), m_worker(device), m_options(std::move(options))
{
    setWindowTitle(QStringLiteral("Vornik/Tessel OTP Programming Tool G2"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setModal(false);
    m_state.records = loadSeedRecordsChoice();
    // Measured once: each measurement lays out a line of text in the font.
    const DialogUnits du(font());
    createControls(du);
    // The arrangement of the template at its size; the list and the Messages
    // panel take whatever the user gives the window beyond it.
    resize(du.size(501, 344).expandedTo(minimumSizeHint()));
    connect(&m_worker, &DeviceWorker::busyChanged, this, &CMainDlg::showBusy);
}

CMainDlg::~CMainDlg()
{
    OnDestroy();
}

// The controls of the window's template, created in the template's order,
// which is also the order Tab walks through them, then laid out as the
// template arranges them: the list, the status line and the Messages panel
// on the left, the buttons in two columns on the right.
void CMainDlg::createControls(const DialogUnits& du)
{
    m_buttonSize = du.size(55, 14);

    auto* about =
        addButton(ControlId::About, QStringLiteral("&About"), true, &CMainDlg::OnAppAbout);

    m_messages = new QPlainTextEdit(this);
    m_messages->setReadOnly(true);
    // Read-only, but the caret and keyboard selection work as in any edit.
    m_messages->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_messages->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_messages->setTabChangesFocus(true);
    m_messages->setUndoRedoEnabled(false);
    m_messages->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // No horizontal bar: the panel scrolls sideways with the caret.
    m_messages->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_messages->setObjectName(QStringLiteral("messages"));
    m_messages->setAccessibleName(QStringLiteral("Messages"));
    m_messages->setMinimumSize(du.size(343, 149) / 2);
    m_controls[ControlId::Messages] = m_messages;

    auto* refresh = addButton(ControlId::Refresh, QStringLiteral("Refresh"), false,
                              &CMainDlg::OnBnClickedRefresh);

    m_tokenList = new QTreeWidget(this);
    m_tokenList->setRootIsDecorated(false);
    m_tokenList->setItemsExpandable(false);
    m_tokenList->setUniformRowHeights(true);
    m_tokenList->setSortingEnabled(false);
    m_tokenList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tokenList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tokenList->header()->setSectionsClickable(false);
    m_tokenList->header()->setStretchLastSection(false);
    m_tokenList->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_tokenList->setObjectName(QStringLiteral("tokenList"));
    m_tokenList->setAccessibleName(QStringLiteral("Tokens"));
    m_tokenList->setMinimumSize(du.size(343, 115) / 2);
    m_controls[ControlId::TokenList] = m_tokenList;

    auto* remove = addButton(ControlId::Remove, QStringLiteral("Remove"), false,
                             &CMainDlg::OnBnClickedRemovetoken);
    auto* clear =
        addButton(ControlId::Clear, QStringLiteral("Clear"), true, &CMainDlg::OnBnClickedClear);
    auto* reset =
        addButton(ControlId::Reset, QStringLiteral("Reset"), false, &CMainDlg::OnBnClickedReset);
    auto* getOtp = addButton(ControlId::GetOtp, QStringLiteral("Get OTP"), false,
                             &CMainDlg::OnBnClickedGetOTP);
    auto* newToken =
        addButton(ControlId::NewToken, QStringLiteral("New Token"), false, &CMainDlg::OnNewToken);

    auto* tokensLabel = new QLabel(QStringLiteral("Tokens:"), this);
    tokensLabel->setBuddy(m_tokenList);
    auto* messagesLabel = new QLabel(QStringLiteral("Messages:"), this);
    messagesLabel->setBuddy(m_messages);

    auto* setEnter =
        addButton(ControlId::SetEnter, QStringLiteral("Set ENTER"), false, &CMainDlg::OnSetEnter);

    m_statusLine = new QLabel(this);
    m_statusLine->setTextFormat(Qt::PlainText);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    // A long text is cut at the list's width rather than widening the window.
    m_statusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_statusLine->setMinimumHeight(du.y(8));
    // Red on the window colour; every other label keeps the default colours.
    QPalette palette = m_statusLine->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    m_statusLine->setPalette(palette);
    m_statusLine->setAutoFillBackground(true);
    m_statusLine->setAccessibleDescription(QStringLiteral("Status"));
    m_controls[ControlId::StatusLine] = m_statusLine;

    auto* pinPolicy = addButton(ControlId::PinPolicy, QStringLiteral("PIN Policy"), false,
                                &CMainDlg::OnBnClickedPinPolicy);
    auto* updatePin = addButton(ControlId::UpdatePin, QStringLiteral("Update PIN"), false,
                                &CMainDlg::OnBnClickedUpdatePin);
    // Above About, as wide as both button columns: its caption is longer.
    auto* seedRecords = addButton(ControlId::SeedRecords, QStringLiteral("Seed records..."), true,
                                  &CMainDlg::OnSeedRecords);

    // Left: 26 units from the edge; the buttons 9 units right of the list,
    // 5 apart, in rows 28 units apart.
    auto* keyButtons = new QGridLayout;
    keyButtons->setHorizontalSpacing(du.x(5));
    keyButtons->setVerticalSpacing(du.y(14));
    const QPushButton* grid[4][2] = {
        {newToken, setEnter}, {getOtp, remove}, {refresh, reset}, {pinPolicy, updatePin}};
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 2; ++column)
            keyButtons->addWidget(const_cast<QPushButton*>(grid[row][column]), row, column);

    auto* windowButtons = new QGridLayout;
    windowButtons->setHorizontalSpacing(du.x(5));
    windowButtons->setVerticalSpacing(du.y(4));
    windowButtons->addWidget(clear, 0, 0);
    windowButtons->setRowStretch(1, 1);
    windowButtons->addWidget(seedRecords, 2, 0, 1, 2);
    windowButtons->addWidget(about, 3, 0);
    windowButtons->setColumnMinimumWidth(1, du.x(55));

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(du.x(26), du.y(13), du.x(8), du.y(17));
    layout->setHorizontalSpacing(du.x(9));
    layout->setVerticalSpacing(du.y(3));
    layout->addWidget(tokensLabel, 0, 0);
    layout->addWidget(m_tokenList, 1, 0);
    layout->addLayout(keyButtons, 1, 1, Qt::AlignTop);
    layout->addWidget(m_statusLine, 2, 0);
    layout->addWidget(messagesLabel, 3, 0);
    layout->addWidget(m_messages, 4, 0);
    layout->addLayout(windowButtons, 4, 1);
    layout->setColumnStretch(0, 1);
    // The list and the panel share any height beyond the template's as they
    // share it there.
    layout->setRowStretch(1, 115);
    layout->setRowStretch(4, 149);
    layout->setRowMinimumHeight(2, du.y(12));

    // Tab order as the template lists the controls (labels and the status
    // line take no focus), then Seed records.
    const int order[] = {ControlId::About,      ControlId::Messages,  ControlId::Refresh,
                         ControlId::TokenList,  ControlId::Remove,    ControlId::Clear,
                         ControlId::Reset,      ControlId::GetOtp,    ControlId::NewToken,
                         ControlId::SetEnter,   ControlId::PinPolicy, ControlId::UpdatePin,
                         ControlId::SeedRecords};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(control(order[i - 1]), control(order[i]));
}

QPushButton* CMainDlg::addButton(int id, const QString& caption, bool enabled,
                                 void (CMainDlg::*handler)())
{
    auto* button = new QPushButton(caption, this);
    button->setMinimumSize(m_buttonSize);
    // No push button is the default: Enter goes to the focused button, or
    // else becomes command 1.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setEnabled(enabled);
    button->setAccessibleName(withoutMnemonic(caption));
    button->setObjectName(QStringLiteral("button%1").arg(id));
    connect(button, &QPushButton::clicked, this, [this, id, handler] {
        // One command at a time: a click while the key works on another one
        // (before its buttons show it) is not a second command. Clear and
        // About do not wait for the key.
        if (m_destroyed || (m_worker.isBusy() && id != ControlId::Clear && id != ControlId::About))
            return;
        Operation operation(*this);
        (this->*handler)();
    });
    m_controls[id] = button;
    return button;
}

bool CMainDlg::Create()
{
    winId();
    if (windowHandle() == nullptr)
        return false;
    OnInitDialog();
    return true;
}

void CMainDlg::OnInitDialog()
{
    registerForDeviceNotifications();
    centreOnWorkArea();
    setWindowIcon(appIcon());
    // Enter on no push button is command 1, Escape command 2: both end the program.
    new DialogKeys(
        this, [this] { CloseMainWindow(ControlId::Ok); },
        [this] { CloseMainWindow(ControlId::Cancel); });
    setUpTokenColumns();

    {
        Operation operation(*this);
        {
            BusyCursor busy(*this);
            DetectDevice(*this);
        }
        // On a first start the library has just created the first key: no
        // plug-in. Any other plug or pull since the watcher started is reported.
        if (m_deviceNotification != nullptr)
            m_deviceNotification->resync();

        change_pin_button_status();
        SetStatusText(QString());
    }
    control(ControlId::About)->setFocus(Qt::OtherFocusReason);
}

CMainDlg::Operation::Operation(CMainDlg& window) : m_window(window)
{
    ++m_window.m_operations;
}

CMainDlg::Operation::~Operation()
{
    if (--m_window.m_operations > 0)
        return;
    // A close asked for while the key worked ends the program now, with the
    // code it asked for; keys plugged or pulled meanwhile come next.
    if (const int command = std::exchange(m_window.m_pendingClose, 0); command != 0)
        m_window.CloseMainWindow(command);
    else if (!m_window.m_plugEvents.empty())
        QTimer::singleShot(0, &m_window, [w = &m_window] { w->handlePlugEvent(); });
}

void CMainDlg::queuePlugEvent(bool arrived)
{
    m_plugEvents.push_back(arrived);
    if (m_operations == 0 && m_plugEvents.size() == 1)
        QTimer::singleShot(0, this, [this] { handlePlugEvent(); });
}

void CMainDlg::handlePlugEvent()
{
    if (m_destroyed || m_operations > 0 || m_plugEvents.empty())
        return;
    const bool arrived = m_plugEvents.front();
    m_plugEvents.pop_front();
    Operation operation(*this);
    if (!arrived) {
        OnKeyRemoval(*this);
        return;
    }
    BusyCursor busy;
    // The settle wait runs where the calls run, so that the window stays alive.
    OnKeyArrival(*this, [this](std::chrono::milliseconds duration) {
        m_worker.runOnWorker([this, duration] { m_options.arrivalWait(duration); });
    });
}

void CMainDlg::showBusy(bool busy)
{
    // Every button that starts work on the key waits for the call under way,
    // and Seed records, whose dialog would hold up the call's answer.
    static constexpr int kKeyWork[] = {
        ControlId::NewToken,  ControlId::SetEnter,  ControlId::GetOtp,
        ControlId::Remove,    ControlId::Refresh,   ControlId::Reset,
        ControlId::PinPolicy, ControlId::UpdatePin, ControlId::SeedRecords,
    };
    if (busy) {
        // A disabled button loses the focus; it gets it back afterwards.
        m_focusBeforeBusy = focusWidget();
        for (const int id : kKeyWork)
            if (isControlEnabled(id)) {
                setControlEnabled(id, false);
                m_heldButtons.push_back(id);
            }
        m_focusWhileBusy = focusWidget();
        return;
    }
    for (const int id : m_heldButtons)
        setControlEnabled(id, true);
    m_heldButtons.clear();
    // Unless the user has put the focus somewhere else meanwhile (clicked into
    // Messages while the key waited). Also while a dialog holds the
    // activation (a call made from Update PIN): the button then has the focus
    // again once the window is active.
    if (m_focusBeforeBusy && focusWidget() == m_focusWhileBusy)
        m_focusBeforeBusy->setFocus(Qt::OtherFocusReason);
}

void CMainDlg::registerForDeviceNotifications()
{
    const QString dir = m_options.keyDir.value_or(keyDirectoryFromEnvironment());
    if (dir.isEmpty())
        return;
    auto* watcher = new KeyDirWatcher(dir, this);
    if (!watcher->isWatching()) {
        delete watcher; // works on without hot-plug
        return;
    }
    m_deviceNotification = watcher;
    // Handled one after another, never in the middle of another command.
    connect(watcher, &KeyDirWatcher::keyArrived, this, [this] { queuePlugEvent(true); });
    connect(watcher, &KeyDirWatcher::keyRemoved, this, [this] { queuePlugEvent(false); });
}

void CMainDlg::centreOnWorkArea()
{
    if (QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
    }
}

void CMainDlg::setUpTokenColumns()
{
    m_tokenList->setHeaderLabels({QStringLiteral("Serial Number"), QStringLiteral("OTP"),
                                  QStringLiteral("Hash"), QStringLiteral("Digits"),
                                  QStringLiteral("Interval")});
    for (int column = 0; column < static_cast<int>(std::size(kColumnWidths)); ++column)
        m_tokenList->setColumnWidth(column, kColumnWidths[column]);
    m_tokenList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tokenList->setAllColumnsShowFocus(true);
}

void CMainDlg::OnDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    if (m_deviceNotification != nullptr) {
        m_deviceNotification->disconnect(this);
        m_deviceNotification->deleteLater();
        m_deviceNotification = nullptr;
    }
}

void CMainDlg::CloseMainWindow(int command)
{
    // The key cannot be interrupted: the program ends once the command
    // under way has had its answer.
    if (m_operations > 0) {
        if (m_pendingClose == 0)
            m_pendingClose = command;
        return;
    }
    OnDestroy();
    hide();
    QCoreApplication::exit(command);
}

void CMainDlg::accept()
{
    CloseMainWindow(ControlId::Ok);
}

void CMainDlg::reject()
{
    CloseMainWindow(ControlId::Cancel);
}

void CMainDlg::closeEvent(QCloseEvent* event)
{
    // The close box and the system menu's Close are command 2; the window
    // goes away through CloseMainWindow, not through Qt's close.
    event->ignore();
    CloseMainWindow(ControlId::Cancel);
}

// ---- Messages panel and status line ----

void CMainDlg::AppendMessage(const QString& text)
{
    // Always at the very end, wherever the user left the caret or selection.
    QTextCursor cursor = m_messages->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_messages->setTextCursor(cursor);
    m_messages->ensureCursorVisible();
    // The panel keeps lines as blocks; a CR LF pair is one line end, not two.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_messages->insertPlainText(lines);
    m_messages->ensureCursorVisible();
}

QString CMainDlg::messagesText() const
{
    return m_messages->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

void CMainDlg::SetStatusText(const QString& text)
{
    m_statusLine->setText(text);
    // A screen reader reads the status line by its name.
    m_statusLine->setAccessibleName(text);
    // Painted now: the next call may block the thread while the key waits.
    m_statusLine->repaint();
}

QString CMainDlg::statusText() const
{
    return m_statusLine->text();
}

// ---- Buttons and token list ----

QWidget* CMainDlg::control(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CMainDlg::setControlEnabled(int controlId, bool enabled)
{
    if (QWidget* widget = control(controlId))
        widget->setEnabled(enabled);
}

bool CMainDlg::isControlEnabled(int controlId) const
{
    const QWidget* widget = control(controlId);
    return widget != nullptr && widget->isEnabled();
}

void CMainDlg::clearTokenRows()
{
    m_tokenList->clear();
}

void CMainDlg::appendTokenRow(const QStringList& cells)
{
    auto* item = new QTreeWidgetItem(cells);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    m_tokenList->addTopLevelItem(item);
}

int CMainDlg::tokenRowCount() const
{
    return m_tokenList->topLevelItemCount();
}

int CMainDlg::selectedTokenRow() const
{
    const QList<QTreeWidgetItem*> selected = m_tokenList->selectedItems();
    return selected.isEmpty() ? -1 : m_tokenList->indexOfTopLevelItem(selected.front());
}

QString CMainDlg::tokenCell(int row, int column) const
{
    const QTreeWidgetItem* item = m_tokenList->topLevelItem(row);
    return item == nullptr ? QString() : item->text(column);
}

void CMainDlg::removeTokenRow(int row)
{
    delete m_tokenList->takeTopLevelItem(row);
    // The list moves the selection to a neighbour of the removed row; the
    // next Get OTP or Remove (the second click of a double-click too) would
    // then act on a token nobody chose.
    m_tokenList->clearSelection();
}

QWidget* CMainDlg::dialogParent()
{
    QWidget* active = QApplication::activeWindow();
    return active != nullptr ? active : this;
}

std::time_t CMainDlg::now()
{
    return std::time(nullptr);
}

// ---- Command handlers ----

void CMainDlg::OnAppAbout()
{
    if (!m_worker.isBusy()) {
        CAboutDlg about(dialogParent());
        about.exec();
        return;
    }
    // While the key works the box must not hold up the answer of its call:
    // shown without a loop of its own.
    auto* about = new CAboutDlg(dialogParent());
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void CMainDlg::OnSeedRecords()
{
    const std::filesystem::path folder =
        m_state.seedFolder.empty() ? default_seed_folder() : m_state.seedFolder;
    SeedRecordsDlg dialog(m_state.records, QString::fromStdString(folder.string()), dialogParent());
    if (dialog.exec() != QDialog::Accepted || dialog.choice() == m_state.records)
        return;
    m_state.records = dialog.choice();
    saveSeedRecordsChoice(m_state.records);
}

void CMainDlg::OnNewToken()
{
    app::OnNewToken(*this);
}

void CMainDlg::OnSetEnter()
{
    app::OnSetEnter(*this);
}

void CMainDlg::OnBnClickedPinPolicy()
{
    app::OnBnClickedPinPolicy(*this);
}

void CMainDlg::OnBnClickedUpdatePin()
{
    app::OnBnClickedUpdatePin(*this);
}

void CMainDlg::OnBnClickedRefresh()
{
    RefreshTokenList();
}

void CMainDlg::OnBnClickedGetOTP()
{
    app::OnBnClickedGetOTP(*this);
}

void CMainDlg::OnBnClickedRemovetoken()
{
    app::OnBnClickedRemovetoken(*this);
}

void CMainDlg::OnBnClickedClear()
{
    m_messages->clear();
}

void CMainDlg::OnBnClickedReset()
{
    app::OnBnClickedReset(*this);
}

void CMainDlg::RefreshTokenList()
{
    BusyCursor busy(*this);
    app::RefreshTokenList(*this);
}

void CMainDlg::change_pin_button_status()
{
    BusyCursor busy(*this);
    app::change_pin_button_status(m_worker.api(),
                                  qobject_cast<QPushButton*>(control(ControlId::UpdatePin)));
}

std::unique_ptr<QWidget> createMainWindow(DeviceApi& device)
{
    auto window = std::make_unique<CMainDlg>(device);
    if (!window->Create())
        return nullptr;
    return window;
}

} // namespace otp::app
