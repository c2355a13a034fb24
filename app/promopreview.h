// The live preview of a promotion: the picture fitted whole into a 120 x 150 frame
// (the 4 : 5 of the picture that is sent), the text over it in the chosen font,
// word-wrapped, at the chosen position. The picture is `imLogo`, the text layer over
// it `laTextOverImage`.
#pragma once

#include "promopicture.h"

#include <QImage>
#include <QWidget>

class TPromoPreviewText;

class TPromoPreview : public QWidget {
    Q_OBJECT

public:
    explicit TPromoPreview(QWidget* parent = nullptr);

    static constexpr int FrameWidth = 120;
    static constexpr int FrameHeight = 150;

    // The picture (held at its full size; scaled for display only). Null: none.
    const QImage& Picture() const { return picture_; }
    void SetPicture(const QImage& picture);

    // The text as set (lines separated by CR LF).
    const QString& Text() const { return text_; }
    void SetText(const QString& text);
    const TPromoFont& Font() const { return font_; }
    void SetFont(const TPromoFont& font);
    // 0 left / top, 1 centre / middle, 2 right / bottom.
    int HAlign() const { return halign_; }
    void SetHAlign(int a);
    int VAlign() const { return valign_; }
    void SetVAlign(int a);

    // Where the picture is drawn inside the frame.
    QRect PictureRect() const;
    // The alignment flags the text is drawn with.
    Qt::Alignment TextAlignment() const;

    QWidget* laTextOverImage() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QImage picture_;
    QString text_;
    TPromoFont font_;
    int halign_ = 1;
    int valign_ = 1;
    TPromoPreviewText* label_;
};
