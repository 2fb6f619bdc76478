#include "app/CAboutDlg.h"

#include "diag/FileLog.h"
#include "records/SeedFolder.h"
#include "ui/AppIcon.h"
#include "ui/DialogKeys.h"
#include "ui/DialogUnits.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

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
    setFixedSize(du.size(269, 67));

    // An icon control takes the system's icon size, not dialog units.
    constexpr int kIconSize = 32;
    auto* icon = new QLabel(this);
    icon->setGeometry(du.x(7), du.y(7), kIconSize, kIconSize);
    icon->setPixmap(appIcon().pixmap(kIconSize, kIconSize));
    icon->setAccessibleName(QStringLiteral("Icon"));

    m_text = new QLabel(this);
    m_text->setGeometry(du.rect(45, 7, 154, 52));
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A long path is shortened in the middle to fit; the tooltip has it whole.
    const auto native = [](const std::filesystem::path& path) {
        return QDir::toNativeSeparators(QString::fromStdString(path.string()));
    };
    const QString seedFolder = native(default_seed_folder());
    const QString logFile = native(file_log_path());
    const auto shown = [this](const QString& path) {
        return m_text->fontMetrics().elidedText(path, Qt::ElideMiddle, m_text->width());
    };
    m_text->setText(QStringLiteral("Vornik/Tessel OTP Programmer G2 (1.0.0)\n"
                                   "Programs the OTP tokens of a Vornik/Tessel key.\n"
                                   "Seed files are written to:\n") +
                    shown(seedFolder) + QStringLiteral("\nIts log is written to:\n") +
                    shown(logFile));
    m_text->setToolTip(seedFolder + QLatin1Char('\n') + logFile);
    m_text->setTextFormat(Qt::PlainText);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(du.rect(212, 7, 50, 14));
    ok->setDefault(true);
    DialogKeys::install(this);
    ok->setAccessibleName(QStringLiteral("OK"));
    connect(ok, &QPushButton::clicked, this, [this] { done(kOk); });
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
