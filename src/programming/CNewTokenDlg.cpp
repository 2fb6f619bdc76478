#include "programming/CNewTokenDlg.h"

#include "core/Codecs.h"
#include "programming/NewToken.h"
#include "programming/SeedHandling.h"
#include "ui/AnsiText.h"
#include "ui/BusyCursor.h"
#include "ui/DialogKeys.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace otp::core;
using namespace otp::device;
using namespace otp::records;
using namespace otp::ui;

namespace otp::programming {

namespace {

constexpr const char* kNoteText =
    "NOTE:\r\n\r\nAfter clicking the \"Save\" button, you need to touch the key if it is "
    "flashing.\r\nOtherwise the operation will fail. ";

// A group box holding a radio-button pair; the group's ids are the choices
// 0 and 1 that the data exchange uses.
QGroupBox* makeChoiceBox(const QString& title, const QString& first, const char* firstName,
                         const QString& second, const char* secondName, QButtonGroup*& group,
                         QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    box->setAccessibleName(title);
    auto* layout = new QVBoxLayout(box);
    group = new QButtonGroup(parent);
    int id = 0;
    for (auto [text, name] : {std::pair{first, firstName}, std::pair{second, secondName}}) {
        auto* radio = new QRadioButton(text, box);
        radio->setObjectName(QLatin1String(name));
        radio->setAccessibleName(text);
        layout->addWidget(radio);
        group->addButton(radio, id++);
    }
    return box;
}

QLineEdit* makeEdit(const QString& label, const char* objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(objectName));
    edit->setAccessibleName(label);
    return edit;
}

void selectChoice(QButtonGroup* group, int choice)
{
    if (QAbstractButton* button = group->button(choice)) {
        button->setChecked(true);
        return;
    }
    // No valid choice: clear the group, which an exclusive group refuses.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(false);
    group->setExclusive(true);
}

// The radio buttons' ids in their groups are the values they stand for.
int algorithmId(OtpAlgorithm algorithm)
{
    return algorithm == OtpAlgorithm::Hotp ? 0 : 1;
}

int hashId(OtpHash hash)
{
    return hash == OtpHash::Sha1 ? 0 : 1;
}

// UTF-8 as the core checks it; a character without a UTF-8 form (a lone
// surrogate) is marked so that the check refuses it.
std::string utf8(const QString& text)
{
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                             static_cast<std::size_t>(text.size())));
}

} // namespace

CNewTokenDlg::CNewTokenDlg(DeviceApi& device, std::string keySerial, std::string access,
                           std::string suggestedSerial, std::span<Recorder* const> recorders,
                           QWidget* parent)
    : QDialog(parent), m_device(device), m_keySerial(std::move(keySerial)),
      m_access(std::move(access)), m_suggestedSerial(std::move(suggestedSerial)),
      m_recorders(recorders.begin(), recorders.end())
{
    setWindowTitle(QStringLiteral("New Token"));
    setObjectName(QStringLiteral("CNewTokenDlg"));
    buildControls();
    // Enter on no push button is the window system's OK command: it closes
    // the dialog without saving.
    new DialogKeys(
        this, [this] { done(NewTokenId::Ok); }, [this] { reject(); });

    m_form = NewTokenForm{}; // TOTP, SHA-1, 6 digits, 30 seconds, ENTER on
    m_saveResult = kNotSaved;
    writeControls();
    setStatusText(QString());

    m_form.serialText = QString::fromUtf8(m_suggestedSerial);
    writeControls();
}

void CNewTokenDlg::buildControls()
{
    auto* top = new QHBoxLayout;
    top->addWidget(makeChoiceBox(QStringLiteral("Algorithm"), QStringLiteral("HOTP"), "hotpRadio",
                                 QStringLiteral("TOTP"), "totpRadio", m_algorithm, this));
    top->addWidget(makeChoiceBox(QStringLiteral("Hash"), QStringLiteral("SHA-1"), "sha1Radio",
                                 QStringLiteral("SHA-256"), "sha256Radio", m_hash, this));
    top->addWidget(makeChoiceBox(QStringLiteral("Digits"), QStringLiteral("6"), "digits6Radio",
                                 QStringLiteral("8"), "digits8Radio", m_digits, this));
    top->addWidget(makeChoiceBox(QStringLiteral("Time Interval"), QStringLiteral("30 Seconds"),
                                 "interval30Radio", QStringLiteral("60 Seconds"), "interval60Radio",
                                 m_interval, this));

    auto* options = new QGroupBox(QStringLiteral("Options"), this);
    options->setAccessibleName(options->title());
    m_appendEnter = new QCheckBox(QStringLiteral("Append ENTER to OTP"), options);
    m_appendEnter->setObjectName(QStringLiteral("appendEnterCheck"));
    m_appendEnter->setAccessibleName(m_appendEnter->text());
    (new QVBoxLayout(options))->addWidget(m_appendEnter);

    m_serialEdit = makeEdit(QStringLiteral("Serial Number:"), "serialEdit", this);
    m_seedEdit = makeEdit(QStringLiteral("Seed/Secret:"), "seedEdit", this);
    m_userNameEdit = makeEdit(QStringLiteral("Username:"), "userNameEdit", this);

    auto* generateSerial =
        makeDialogButton(QStringLiteral("Generate"), "generateSerialButton", this);
    generateSerial->setAccessibleDescription(QStringLiteral("Generate serial number"));
    auto* generateSeed = makeDialogButton(QStringLiteral("Generate"), "generateSeedButton", this);
    generateSeed->setAccessibleDescription(QStringLiteral("Generate seed"));

    auto* fields = new QGridLayout;
    auto addRow = [&](int row, const QString& label, QLineEdit* edit, QPushButton* button) {
        auto* text = new QLabel(label, this);
        text->setBuddy(edit);
        fields->addWidget(text, row, 0);
        fields->addWidget(edit, row, 1);
        if (button)
            fields->addWidget(button, row, 2);
    };
    addRow(0, QStringLiteral("Serial Number:"), m_serialEdit, generateSerial);
    addRow(1, QStringLiteral("Seed/Secret:"), m_seedEdit, generateSeed);
    addRow(2, QStringLiteral("Username:\n(optional)"), m_userNameEdit, nullptr);

    auto* note = new QLabel(QString::fromLatin1(kNoteText), this);
    note->setObjectName(QStringLiteral("noteLabel"));
    note->setAccessibleName(QStringLiteral("NOTE:"));
    note->setWordWrap(true);

    m_status = new QLabel(QStringLiteral("msg"), this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    // A long refusal (a file's path and why it cannot take the seed) wraps
    // onto more lines; it never widens the dialog past the screen.
    m_status->setWordWrap(true);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setAccessibleDescription(QStringLiteral("Message"));

    auto* save = makeDialogButton(QStringLiteral("Save"), "saveButton", this);
    auto* cancel = makeDialogButton(QStringLiteral("Cancel"), "cancelButton", this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(options);
    layout->addLayout(fields);
    layout->addWidget(note);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    // Keyboard users meet the controls in the order they see them: each
    // edit, then the Generate button beside it.
    setTabOrder(m_appendEnter, m_serialEdit);
    setTabOrder(m_serialEdit, generateSerial);
    setTabOrder(generateSerial, m_seedEdit);
    setTabOrder(m_seedEdit, generateSeed);
    setTabOrder(generateSeed, m_userNameEdit);
    setTabOrder(m_userNameEdit, save);
    setTabOrder(save, cancel);

    connect(generateSeed, &QPushButton::clicked, this, [this] { OnBnClickedGenerateSeed(); });
    connect(save, &QPushButton::clicked, this, [this] { OnBnClickedSave(); });
    connect(generateSerial, &QPushButton::clicked, this, [this] { OnBnClickedGenerateSerial(); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(NewTokenId::CancelButton); });
}

void CNewTokenDlg::readControls()
{
    m_form.serialText = m_serialEdit->text();
    m_form.seedText = m_seedEdit->text();
    m_form.userName = m_userNameEdit->text();
    m_form.hash = m_hash->checkedId() == 1 ? OtpHash::Sha256 : OtpHash::Sha1;
    m_form.digits = m_digits->checkedId() == 1 ? 8 : 6;
    m_form.algorithm = m_algorithm->checkedId() == 0 ? OtpAlgorithm::Hotp : OtpAlgorithm::Totp;
    m_form.interval = m_interval->checkedId() == 1 ? 60 : 30;
    m_form.appendEnter = m_appendEnter->isChecked();
}

void CNewTokenDlg::writeControls()
{
    m_serialEdit->setText(m_form.serialText);
    m_seedEdit->setText(m_form.seedText);
    m_userNameEdit->setText(m_form.userName);
    selectChoice(m_hash, hashId(m_form.hash));
    selectChoice(m_digits, m_form.digits == 8 ? 1 : 0);
    selectChoice(m_algorithm, algorithmId(m_form.algorithm));
    selectChoice(m_interval, m_form.interval == 60 ? 1 : 0);
    m_appendEnter->setChecked(m_form.appendEnter);
}

void CNewTokenDlg::setStatusText(const QString& text)
{
    m_status->setText(text);
    // A screen reader reads the line by its name: a refusal must be heard.
    m_status->setAccessibleName(text);
}

void CNewTokenDlg::OnBnClickedGenerateSerial()
{
    readControls();
    char serial[kSerialBufferSize] = {};
    generate_serial_number(serial);
    m_form.serialText = fromAnsi(serial);
    writeControls();
}

void CNewTokenDlg::OnBnClickedGenerateSeed()
{
    readControls();
    // The length follows the hash chosen now; a seed drawn earlier is not
    // adjusted when the hash changes afterwards.
    const auto seed = generate_seed_text(m_form.hash);
    if (!seed) {
        setStatusText(QString::fromStdString(seed.error().detail));
        return;
    }
    m_form.seedText = QString::fromStdString(*seed);
    writeControls();
}

void CNewTokenDlg::OnBnClickedSave()
{
    readControls();
    auto token = check_new_token({.algorithm = m_form.algorithm,
                                  .hash = m_form.hash,
                                  .digits = m_form.digits,
                                  .interval = m_form.interval,
                                  .serial = utf8(m_form.serialText),
                                  .seedHex = utf8(m_form.seedText),
                                  .seed = {},
                                  .user = utf8(m_form.userName)});
    if (!token) {
        setStatusText(QString::fromStdString(token.error().detail));
        return;
    }

    KeySession key(m_device);
    OpResult<ProgrammedToken> programmed;
    {
        BusyCursor busy;
        programmed = program_token(
            key,
            {.token = std::move(*token),
             .keySerial = m_keySerial,
             .access = Password(m_access),
             .appendEnter = m_form.appendEnter},
            m_recorders,
            {.touch = [this] { setStatusText(QStringLiteral("Please touch the key...")); },
             .keyTookToken = [this] { setStatusText(QString()); },
             .recorded = {}});
    }
    // Refused before the key was touched (a recorder's check, a lock): the
    // user can mend it and press Save again.
    if (!programmed && !programmed.error().from_key()) {
        setStatusText(QString::fromStdString(programmed.error().detail));
        return;
    }
    setStatusText(QString());

    m_saveResult = programmed ? kProgrammingSucceeded : kProgrammingFailed;
    if (programmed)
        m_programmed = std::move(*programmed);
    else
        m_failure = programmed.error();
    done(NewTokenId::Save);
}

void CNewTokenDlg::reject()
{
    done(NewTokenId::Cancel);
}

} // namespace otp::programming
