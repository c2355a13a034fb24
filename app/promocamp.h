// The editor of a promotion campaign: a picture with a message and, optionally, a
// coupon code drawn over it for every phone, with a live preview.
#pragma once

#include "campeditor.h"
#include "promopreview.h"
#include "stddialogs.h"

namespace Ui {
class TfmPromoCamp;
}
class QAbstractButton;
class QButtonGroup;
class QToolButton;

// The placeholder the preview shows for the coupon code.
inline constexpr const char* PromoCouponPlaceholder = "COUPON CODE";
// The preview's text: the message and, while coupons are on, the placeholder on its own line.
QString PromoPreviewText(const QString& message, bool coupon);
// The validity edit and its label follow the coupon box: enabled with "1" when on,
// disabled and empty when off.
void ShowCouponValidity(bool coupon, QWidget* label, QLineEdit* validIn);
// The most hours a coupon's validity can hold (a small integer column).
inline constexpr int CouponValidityMax = 32767;
// With the coupon on, the validity must be 1 to CouponValidityMax hours; false after telling the
// user, naming the field by its label.
bool CheckCouponValidity(QWidget* owner, const QCheckBox* coupon, const QLabel* label, const QLineEdit* validIn);
// The dialog a promotion's picture is chosen in.
TOpenDialog PromoPictureDialog();
// Reads a chosen picture file (".bmp" as a bitmap, anything else as JPEG) for the
// preview; throws when it cannot be read.
QImage ReadPromoPicture(const QString& path);
// The picture and font buttons of a promotion page (the editor's and the wizard's). A chosen
// picture names the send-as file before it is read; one that cannot be read is reported and
// the preview keeps the picture it had.
void ChoosePromoPicture(QWidget* owner, TOpenDialog& dialog, QLineEdit* sendAs, TPromoPreview* preview);
void ChoosePromoFont(QWidget* owner, TFontDialog& dialog, TPromoPreview* preview);

// The stored position codes from the position buttons: bottom 2, else middle 1, else 0;
// left 0, else centre 1, else 2.
int PromoVAlignCode(const QAbstractButton* middle, const QAbstractButton* bottom);
int PromoHAlignCode(const QAbstractButton* left, const QAbstractButton* center);

// What a promotion stores besides its name and schedule.
struct TPromotionParams {
    QByteArray Jpeg; // the whole picture, encoded
    int VAlign = 1;
    int HAlign = 1;
    bool UseCoupon = true;
    QString Message;
    QString ValidIn; // sent only with the coupon on
};
void SetPromotionParams(ibx::TIBStoredProc& sp, const TPromotionParams& p);
// The four font parameters.
void SetFontParams(ibx::TIBStoredProc& sp, const TPromoFont& font);

class TfmPromoCamp : public TCampEditor {
    Q_OBJECT

public:
    explicit TfmPromoCamp(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    ~TfmPromoCamp() override;

    TPromoPreview* imLogo = nullptr;
    QWidget* laTextOverImage = nullptr;
    QLineEdit *edMessage = nullptr, *edSendAs = nullptr, *edValidIn = nullptr;
    QCheckBox* cbEnableCoupon = nullptr;
    QLabel* laValidIn = nullptr;
    QToolButton *sbTop = nullptr, *sbMiddle = nullptr, *sbBottom = nullptr;
    QToolButton *sbLeft = nullptr, *sbCenter = nullptr, *sbRight = nullptr;
    QToolButton *sbSelectFile = nullptr, *sbFont = nullptr;
    TOpenDialog OpenDialog;
    TFontDialog FontDialog;

    int CampaignType() const override { return CampTypePromotion; }

    static constexpr const char* CouponPlaceholder = PromoCouponPlaceholder;

    void edMessageChange();
    void cbEnableCouponClick();
    void sbSelectFileClick();
    void sbFontClick();
    void sbLeftClick();
    void sbCenterClick();
    void sbRightClick();
    void sbTopClick();
    void sbMiddleClick();
    void sbBottomClick();

protected:
    QString ContentColumns() const override;
    void LoadContent(const ibx::TIBQuery& q) override;
    void AfterLoad() override;
    QString FileNameText() const override;
    QString StoredFileName() const override;
    bool CheckContent() override;
    void FillContent(ibx::TIBStoredProc& sp, bool adding) override;
    void ContentDefaults() override;

private:
    std::unique_ptr<Ui::TfmPromoCamp> content_;
    QButtonGroup* vertical_ = nullptr;
    QButtonGroup* horizontal_ = nullptr;
};
