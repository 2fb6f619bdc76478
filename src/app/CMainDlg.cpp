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
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QTreeWidget>

namespace {

constexpr int kColumnWidths[] = {180, 60, 60, 60, 60};

QString withoutMnemonic(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

} // namespace

CMainDlg::CMainDlg(DeviceApi& device) : CMainDlg(device, Options{}) {}

CMainDlg::CMainDlg(DeviceApi& device, Options options)
    : QDialog(nullptr), m_device(device), m_options(std::move(options))
{
    setWindowTitle(QStringLiteral("Vornik/Tessel OTP Programming Tool G2"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);
    setFixedSize(DialogUnits(font()).size(501, 344));
    m_state.records = loadSeedRecordsChoice();
    createControls();
}

CMainDlg::~CMainDlg()
{
    OnDestroy();
}

// The controls of the window's template, created in the template's order,
// which is also the order Tab walks through them.
void CMainDlg::createControls()
{
    const DialogUnits du(font());

    addButton(ControlId::About, QStringLiteral("&About"), 378, 311, true, &CMainDlg::OnAppAbout);

    m_messages = new QPlainTextEdit(this);
    m_messages->setGeometry(du.rect(26, 178, 343, 149));
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
    m_controls[ControlId::Messages] = m_messages;

    addButton(ControlId::Refresh, QStringLiteral("Refresh"), 378, 80, false,
              &CMainDlg::OnBnClickedRefresh);

    m_tokenList = new QTreeWidget(this);
    m_tokenList->setGeometry(du.rect(26, 24, 343, 115));
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
    m_controls[ControlId::TokenList] = m_tokenList;

    addButton(ControlId::Remove, QStringLiteral("Remove"), 438, 52, false,
              &CMainDlg::OnBnClickedRemovetoken);
    addButton(ControlId::Clear, QStringLiteral("Clear"), 378, 180, true,
              &CMainDlg::OnBnClickedClear);
    addButton(ControlId::Reset, QStringLiteral("Reset"), 438, 80, false,
              &CMainDlg::OnBnClickedReset);
    addButton(ControlId::GetOtp, QStringLiteral("Get OTP"), 378, 52, false,
              &CMainDlg::OnBnClickedGetOTP);
    addButton(ControlId::NewToken, QStringLiteral("New Token"), 378, 24, false,
              &CMainDlg::OnNewToken);

    auto* tokensLabel = new QLabel(QStringLiteral("Tokens:"), this);
    tokensLabel->setGeometry(du.rect(26, 13, 58, 8));
    tokensLabel->setBuddy(m_tokenList);
    auto* messagesLabel = new QLabel(QStringLiteral("Messages:"), this);
    messagesLabel->setGeometry(du.rect(26, 162, 58, 8));
    messagesLabel->setBuddy(m_messages);

    addButton(ControlId::SetEnter, QStringLiteral("Set ENTER"), 438, 24, false,
              &CMainDlg::OnSetEnter);

    m_statusLine = new QLabel(this);
    m_statusLine->setGeometry(du.rect(26, 147, 343, 8));
    m_statusLine->setTextFormat(Qt::PlainText);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    // Red on the window colour; every other label keeps the default colours.
    QPalette palette = m_statusLine->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    m_statusLine->setPalette(palette);
    m_statusLine->setAutoFillBackground(true);
    m_statusLine->setAccessibleDescription(QStringLiteral("Status"));
    m_controls[ControlId::StatusLine] = m_statusLine;

    addButton(ControlId::PinPolicy, QStringLiteral("PIN Policy"), 378, 108, false,
              &CMainDlg::OnBnClickedPinPolicy);
    addButton(ControlId::UpdatePin, QStringLiteral("Update PIN"), 438, 108, false,
              &CMainDlg::OnBnClickedUpdatePin);
    // Above About, as wide as both button columns: its caption is longer.
    addButton(ControlId::SeedRecords, QStringLiteral("Seed records..."), 378, 293, true,
              &CMainDlg::OnSeedRecords)
        ->setGeometry(du.rect(378, 293, 115, 14));

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

QPushButton* CMainDlg::addButton(int id, const QString& caption, int x, int y, bool enabled,
                                 void (CMainDlg::*handler)())
{
    auto* button = new QPushButton(caption, this);
    button->setGeometry(DialogUnits(font()).rect(x, y, 55, 14));
    // No push button is the default: Enter goes to the focused button, or
    // else becomes command 1.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setEnabled(enabled);
    button->setAccessibleName(withoutMnemonic(caption));
    button->setObjectName(QStringLiteral("button%1").arg(id));
    connect(button, &QPushButton::clicked, this, [this, handler] {
        if (!m_destroyed)
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
        BusyCursor busy;
        DetectDevice(*this);
    }
    // On a first start the library has just created the first key: no
    // plug-in. Any other plug or pull since the watcher started is reported.
    if (m_deviceNotification != nullptr)
        m_deviceNotification->resync();

    change_pin_button_status();
    SetStatusText(QString());
    control(ControlId::About)->setFocus(Qt::OtherFocusReason);
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
    connect(watcher, &KeyDirWatcher::keyArrived, this, [this] {
        BusyCursor busy; // the settle wait and the discovery block the window
        OnKeyArrival(*this, m_options.arrivalWait);
    });
    connect(watcher, &KeyDirWatcher::keyRemoved, this, [this] { OnKeyRemoval(*this); });
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
    CAboutDlg about(dialogParent());
    about.exec();
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
    ::OnNewToken(*this);
}

void CMainDlg::OnSetEnter()
{
    ::OnSetEnter(*this);
}

void CMainDlg::OnBnClickedPinPolicy()
{
    ::OnBnClickedPinPolicy(*this);
}

void CMainDlg::OnBnClickedUpdatePin()
{
    ::OnBnClickedUpdatePin(*this);
}

void CMainDlg::OnBnClickedRefresh()
{
    RefreshTokenList();
}

void CMainDlg::OnBnClickedGetOTP()
{
    ::OnBnClickedGetOTP(*this);
}

void CMainDlg::OnBnClickedRemovetoken()
{
    ::OnBnClickedRemovetoken(*this);
}

void CMainDlg::OnBnClickedClear()
{
    m_messages->clear();
}

void CMainDlg::OnBnClickedReset()
{
    ::OnBnClickedReset(*this);
}

void CMainDlg::RefreshTokenList()
{
    BusyCursor busy;
    ::RefreshTokenList(*this);
}

void CMainDlg::change_pin_button_status()
{
    BusyCursor busy;
    ::change_pin_button_status(m_device, qobject_cast<QPushButton*>(control(ControlId::UpdatePin)));
}

std::unique_ptr<QWidget> createMainWindow(DeviceApi& device)
{
    auto window = std::make_unique<CMainDlg>(device);
    if (!window->Create())
        return nullptr;
    return window;
}
