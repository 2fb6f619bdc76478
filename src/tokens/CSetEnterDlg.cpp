#include "tokens/CSetEnterDlg.h"

#include "ui/DialogKeys.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QVBoxLayout>

using namespace otp::ui;

namespace otp::tokens {

CSetEnterDlg::CSetEnterDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CSetEnterDlg"));
    setWindowTitle(QStringLiteral("Set ENTER"));
    setAccessibleName(QStringLiteral("Set ENTER"));
    // No context help on a dialog with one check box.
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // Icon 128, like every window of the tool. Where the resource is not
    // linked in (tests of this dialog alone) the owner's icon is the same one.
    const QIcon icon(QStringLiteral(":/icon128.png"));
    if (!icon.isNull())
        setWindowIcon(icon);
    else if (parent)
        setWindowIcon(parent->windowIcon());

    m_appendEnter = new QCheckBox(QStringLiteral("Append ENTER to OTP"), this);
    m_appendEnter->setObjectName(QStringLiteral("appendEnterCheck"));
    m_appendEnter->setAccessibleName(m_appendEnter->text());

    m_save = makeDialogButton(QStringLiteral("Save"), "saveButton", this);
    m_save->setDefault(true);
    DialogKeys::install(this);
    m_cancel = makeDialogButton(QStringLiteral("Cancel"), "cancelButton", this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_save);
    buttons->addWidget(m_cancel);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_appendEnter);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_save, &QPushButton::clicked, this, &CSetEnterDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CSetEnterDlg::reject);

    // Show the member in the box: it starts at 1, so the box starts checked.
    m_appendEnter->setChecked(m_enterChoice != 0);
}

void CSetEnterDlg::accept()
{
    m_enterChoice = m_appendEnter->isChecked() ? 1 : 0;
    done(kSave);
}

// Escape and the close box land here too.
void CSetEnterDlg::reject()
{
    done(kCancel);
}

} // namespace otp::tokens
