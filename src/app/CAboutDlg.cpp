#include "app/CAboutDlg.h"

#include "diag/FileLog.h"
#include "records/SeedFolder.h"
#include "ui/AppIcon.h"
#include "ui/DialogKeys.h"
#include "ui/DialogUnits.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

using namespace otp::diag;
using namespace otp::records;
using namespace otp::ui;

namespace otp::app {

namespace {
constexpr int kOk = 1;
constexpr int kCancel = 2;
} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About"));
    setWindowIcon(appIcon());
    setModal(true);

    const DialogUnits du(font());

    // An icon control takes the system's icon size, not dialog units.
    constexpr int kIconSize = 32;
    auto* icon = new QLabel(this);
    icon->setPixmap(appIcon().pixmap(kIconSize, kIconSize));
    icon->setAccessibleName(QStringLiteral("Icon"));

    m_text = new QLabel(this);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setTextFormat(Qt::PlainText);
    // A long path is shortened in the middle to fit; the tooltip has it whole.
    const auto native = [](const std::filesystem::path& path) {
        return QDir::toNativeSeparators(QString::fromStdString(path.string()));
    };
    const QString seedFolder = native(default_seed_folder());
    const QString logFile = native(file_log_path());
    const auto shown = [&](const QString& path) {
        return m_text->fontMetrics().elidedText(path, Qt::ElideMiddle, du.x(154));
    };
    m_text->setText(QStringLiteral("Vornik/Tessel OTP Programmer G2 (1.0.0)\n"
                                   "Programs the OTP tokens of a Vornik/Tessel key.\n"
                                   "Seed files are written to:\n") +
                    shown(seedFolder) + QStringLiteral("\nIts log is written to:\n") +
                    shown(logFile));
    m_text->setToolTip(seedFolder + QLatin1Char('\n') + logFile);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setMinimumSize(du.size(50, 14));
    ok->setDefault(true);
    DialogKeys::install(this);
    ok->setAccessibleName(QStringLiteral("OK"));
    connect(ok, &QPushButton::clicked, this, [this] { done(kOk); });

    // Icon, text and OK side by side along the top, as the template has them.
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(du.x(7), du.y(7), du.x(7), du.y(7));
    layout->setSpacing(du.x(6));
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1);
    layout->addWidget(ok, 0, Qt::AlignTop);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    ok->setFocus();
}

void CAboutDlg::showEvent(QShowEvent* event)
{
    // Centred over the window that owns it.
    if (QWidget* owner = parentWidget()) {
        QRect frame = geometry();
        frame.moveCenter(owner->window()->geometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

void CAboutDlg::reject()
{
    done(kCancel);
}

} // namespace otp::app
