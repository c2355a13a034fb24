#include "promopreview.h"

#include "stddialogs.h"

#include <QPainter>

class TPromoPreviewText : public QWidget {
public:
    explicit TPromoPreviewText(TPromoPreview* owner) : QWidget(owner), owner_(owner) {
        setObjectName(QStringLiteral("laTextOverImage"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setFont(PreviewQFont(owner_->Font()));
        p.setPen(TColorToQColor(owner_->Font().Color));
        QString text = owner_->Text();
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        p.drawText(rect(), static_cast<int>(owner_->TextAlignment()) | Qt::TextWordWrap, text);
    }

private:
    TPromoPreview* owner_;
};

TPromoPreview::TPromoPreview(QWidget* parent) : QWidget(parent), label_(new TPromoPreviewText(this)) {
    setObjectName(QStringLiteral("imLogo"));
    setFixedSize(FrameWidth, FrameHeight);
    label_->setGeometry(rect());
}

QWidget* TPromoPreview::laTextOverImage() const {
    return label_;
}

void TPromoPreview::SetPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void TPromoPreview::SetText(const QString& text) {
    text_ = text;
    label_->update();
}

void TPromoPreview::SetFont(const TPromoFont& font) {
    font_ = font;
    label_->update();
}

void TPromoPreview::SetHAlign(int a) {
    halign_ = a;
    label_->update();
}

void TPromoPreview::SetVAlign(int a) {
    valign_ = a;
    label_->update();
}

Qt::Alignment TPromoPreview::TextAlignment() const {
    const Qt::Alignment h = halign_ == 0 ? Qt::AlignLeft : halign_ == 1 ? Qt::AlignHCenter : Qt::AlignRight;
    const Qt::Alignment v = valign_ == 0 ? Qt::AlignTop : valign_ == 1 ? Qt::AlignVCenter : Qt::AlignBottom;
    return h | v;
}

QRect TPromoPreview::PictureRect() const {
    if (picture_.isNull())
        return QRect();
    const QSize fitted = picture_.size().scaled(FrameWidth, FrameHeight, Qt::KeepAspectRatio);
    return QRect((FrameWidth - fitted.width()) / 2, (FrameHeight - fitted.height()) / 2, fitted.width(),
                 fitted.height());
}

void TPromoPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!picture_.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(PictureRect(), picture_);
    }
}
