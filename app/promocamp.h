// The editor of a promotion campaign: a picture with a message and, optionally, a
// coupon code drawn over it for every phone, with a live preview.
#pragma once

#include "campeditor.h"
#include "promopreview.h"
#include "stddialogs.h"

namespace Ui {
class TfmPromoCamp;
}
class QButtonGroup;
class QToolButton;

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

    // The placeholder the preview shows for the coupon code.
    static constexpr const char* CouponPlaceholder = "COUPON CODE";

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

    // Reads a chosen picture file into the preview; throws when it cannot be read
    // (the previous picture stays).
    void LoadPicture(const QString& path);

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
