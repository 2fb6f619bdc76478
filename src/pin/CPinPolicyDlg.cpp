#include "pin/CPinPolicyDlg.h"

#include "device/KeySession.h"
#include "diag/FileLog.h"
#include "pin/PinPolicyRecord.h"
#include "ui/BusyCursor.h"
#include "ui/DialogKeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <string>

using namespace otp::core;
using namespace otp::diag;
using namespace otp::device;
using namespace otp::ui;

namespace otp::pin {

namespace {

struct FieldText
{
    PolicyField field;
    const char* label;
    const char* objectName;
};

// In the order the dialog reads them.
constexpr std::array<FieldText, kPolicyFieldCount> kFieldTexts{{
    {PolicyField::MinLength, "the minimum PIN length required (0-9)", "minLengthEdit"},
    {PolicyField::MinNumeric, "the minimum number of numeric letters required (0-9)",
     "minNumericEdit"},
    {PolicyField::MinLowercase, "the minimum number of lowercase letters required (0-9)",
     "minLowercaseEdit"},
    {PolicyField::MinUppercase, "the minimum number of uppercase letters required (0-9)",
     "minUppercaseEdit"},
    {PolicyField::MinSpecial, "the minimum number of special letters required (0-9)",
     "minSpecialEdit"},
    {PolicyField::MaxSequential, "the maximum length of sequential letters allowed (0-9)",
     "maxSequentialEdit"},
    {PolicyField::MaxRepeating, "the maximum number of repeating letters allowed (0-9)",
     "maxRepeatingEdit"},
    {PolicyField::ExpiryDays, "A newly set PIN expires in", "expiryDaysEdit"},
}};

} // namespace

CPinPolicyDlg::CPinPolicyDlg(DeviceApi& device, QWidget* parent, FileLog fileLog)
    : QDialog(parent), m_device(device), m_fileLog(std::move(fileLog))
{
    if (!m_fileLog)
        m_fileLog = log_to_state_file;

    setWindowTitle(QStringLiteral("PIN Policy"));
    setObjectName(QStringLiteral("CPinPolicyDlg"));

    m_enabled = new QCheckBox(QStringLiteral("Enabled"), this);
    m_enabled->setObjectName(QStringLiteral("enabledBox"));
    m_enabled->setAccessibleName(m_enabled->text());

    // Digits only, as typed; whether the number fits is judged on save so
    // that the administrator is told which field is wrong.
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (const FieldText& text : kFieldTexts) {
        Field& f = m_fields[index(text.field)];
        f.label = new QLabel(QString::fromLatin1(text.label), this);
        f.edit = new QLineEdit(this);
        f.edit->setObjectName(QString::fromLatin1(text.objectName));
        f.edit->setValidator(new QRegularExpressionValidator(digits, f.edit));
        f.label->setBuddy(f.edit);
        f.edit->setAccessibleName(f.label->text());
    }

    auto* complexity = new QGroupBox(QStringLiteral("Complexity Policy"), this);
    complexity->setAccessibleName(complexity->title());
    auto* rules = new QGridLayout(complexity);
    for (std::size_t i = 0; i < index(PolicyField::ExpiryDays); ++i) {
        const int row = static_cast<int>(i);
        rules->addWidget(m_fields[i].label, row, 0);
        rules->addWidget(m_fields[i].edit, row, 1);
    }

    auto* expiration = new QGroupBox(QStringLiteral("Expiration"), this);
    expiration->setAccessibleName(expiration->title());
    m_daysLabel = new QLabel(QStringLiteral("days"), expiration);
    auto* expiry = new QHBoxLayout(expiration);
    const Field& days = m_fields[index(PolicyField::ExpiryDays)];
    expiry->addWidget(days.label);
    expiry->addWidget(days.edit);
    expiry->addWidget(m_daysLabel);
    expiry->addStretch(1);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("messageLabel"));
    m_message->setWordWrap(true);
    m_message->setAccessibleDescription(QStringLiteral("Message"));

    m_ok = makeDialogButton(QStringLiteral("OK"), "okButton", this);
    m_ok->setDefault(true);
    DialogKeys::install(this);
    m_cancel = makeDialogButton(QStringLiteral("Cancel"), "cancelButton", this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_enabled);
    layout->addWidget(complexity);
    layout->addWidget(expiration);
    layout->addWidget(m_message);
    layout->addLayout(buttons);

    connect(m_enabled, &QCheckBox::toggled, this, &CPinPolicyDlg::enableRuleControls);
    connect(m_ok, &QPushButton::clicked, this, &CPinPolicyDlg::OnSaveCmd);
    connect(m_cancel, &QPushButton::clicked, this, &CPinPolicyDlg::reject);

    // A key without a readable record opens with everything off and zero;
    // one whose policy is switched off shows its stored values, greyed.
    PolicyValues values;
    {
        BusyCursor busy;
        KeySession key(m_device);
        values = policy_values_of(read_pin_policy_or_zero(key));
    }
    showValues(values);
    setMessage(QString());
    enableRuleControls(values.enabled);
}

void CPinPolicyDlg::showValues(const PolicyValues& values)
{
    m_enabled->setChecked(values.enabled);
    for (std::size_t i = 0; i < kPolicyFieldCount; ++i)
        m_fields[i].edit->setText(QString::number(values.values[i]));
}

void CPinPolicyDlg::enableRuleControls(bool enabled)
{
    for (const Field& f : m_fields) {
        f.label->setEnabled(enabled);
        f.edit->setEnabled(enabled);
    }
}

void CPinPolicyDlg::setMessage(const QString& text)
{
    m_message->setText(text);
}

void CPinPolicyDlg::OnSaveCmd()
{
    m_fileLog("[OnSaveCmd]");

    PolicyValues values;
    values.enabled = m_enabled->isChecked();
    for (const FieldText& text : kFieldTexts) {
        QLineEdit* edit = m_fields[index(text.field)].edit;
        const auto value = parse_policy_field(edit->text().toStdString(), text.field);
        if (!value) {
            // Nothing is written: saving anything but what is on screen would
            // hand the key a policy the administrator never saw.
            QApplication::beep();
            edit->setFocus();
            setMessage(QString::fromStdString(policy_field_error(text.field)));
            return;
        }
        values[text.field] = *value;
    }

    KeySession key(m_device);
    OpResult<PinPolicyRecord> stored;
    {
        BusyCursor busy;
        // The PIN state (digest, set time) is carried over; a key without a
        // record starts with none.
        stored = read_pin_policy_to_update(key);
    }
    if (!stored) {
        m_fileLog("[OnSaveCmd] " + stored.error().detail);
        setMessage(QString::fromStdString(stored.error().detail));
        return;
    }
    const PinPolicyRecord record = policy_record_with(*stored, values);

    setMessage(QStringLiteral("Touch the Key..."));
    showValues(values);
    // The write waits for a touch and blocks the thread: paint the prompt first.
    m_message->repaint();
    OpResult<void> written;
    {
        BusyCursor busy;
        written = write_pin_policy(key, record);
    }
    if (written) {
        accept();
        return;
    }
    const std::string text = "Failed to write PIN policy. Error: " + written.error().detail;
    m_fileLog("[OnSaveCmd] " + text);
    setMessage(QString::fromStdString(text));
}

} // namespace otp::pin
