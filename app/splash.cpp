#include "splash.h"

#include "ui_splash.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

TfmSplash* fmSplash = nullptr;

namespace {

QPixmap Picture() {
    QPixmap pm(500, 210);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 500, 210);
    g.setColorAt(0, QColor(0x10, 0x3a, 0x6e));
    g.setColorAt(1, QColor(0x1f, 0x8f, 0xc8));
    p.fillRect(pm.rect(), g);
    p.setRenderHint(QPainter::Antialiasing);
    // Radio waves from the station's corner.
    p.setPen(QPen(QColor(255, 255, 255, 90), 6));
    for (int r = 60; r <= 300; r += 60)
        p.drawEllipse(QPoint(430, 170), r, r);
    QFont title(QStringLiteral("DejaVu Sans"), 40, QFont::Bold);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(30, 40, 440, 80), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tavlin"));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 14));
    p.drawText(QRect(32, 115, 440, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Bluetooth Proximity Marketing"));
    return pm;
}

} // namespace

TfmSplash::TfmSplash(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), ui_(std::make_unique<Ui::fmSplash>()) {
    ui_->setupUi(this);
    imPicture = ui_->imPicture;
    laVersion = ui_->laVersion;
    btClose = ui_->btClose;
    setFixedSize(502, 335);
    imPicture->setPixmap(Picture());
    // Close is both the default and the cancel button.
    btClose->setDefault(true);
    connect(btClose, &QPushButton::clicked, this, &QDialog::accept);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TfmSplash::~TfmSplash() = default;
