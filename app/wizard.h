// The new-campaign wizard: one dialog that creates a campaign of any type page by page
// (name, schedule, type, content) and stores it at Finish. It never loads or changes a
// stored campaign, and it holds a transaction only for the moment of the creation.
#pragma once

#include "campeditor.h"
#include "ibx/IBDatabase.h"
#include "ibx/IBStoredProc.h"
#include "stddialogs.h"
#include "strings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TfmWizard;
}
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimeEdit;
class QToolButton;
class TPromoPreview;

class TfmWizard : public QDialog {
    Q_OBJECT

public:
    explicit TfmWizard(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    ~TfmWizard() override;

    // The pages, in the order of PageControl.
    enum TPage : int {
        pgWelcome,
        pgParams,
        pgSchedulingType,
        pgDateTime,
        pgDaysOfWeek,
        pgType,
        pgFile,
        pgText,
        pgPromo,
        pgFinish
    };

    // Components under their published names.
    QLabel* imWizard = nullptr;
    QStackedWidget* PageControl = nullptr;
    QWidget *tsWelcome = nullptr, *tsParams = nullptr, *tsSchedulingType = nullptr, *tsDateTime = nullptr,
            *tsDaysOfWeek = nullptr, *tsType = nullptr, *tsFile = nullptr, *tsText = nullptr, *tsPromo = nullptr,
            *tsFinish = nullptr;
    QPushButton *btBack = nullptr, *btNext = nullptr, *btCancel = nullptr;
    QLineEdit* edName = nullptr;
    QCheckBox* cbEnabled = nullptr;
    QCheckBox *cbContinuous = nullptr, *cbDateTime = nullptr, *cbDaysOfWeek = nullptr;
    QDateEdit *dtpStartDate = nullptr, *dtpEndDate = nullptr;
    QTimeEdit *dtpStartTime = nullptr, *dtpEndTime = nullptr;
    QCheckBox *cbMonday = nullptr, *cbTuesday = nullptr, *cbWednesday = nullptr, *cbThursday = nullptr,
              *cbFriday = nullptr, *cbSaturday = nullptr, *cbSunday = nullptr;
    QTimeEdit *dtpStart = nullptr, *dtpEnd = nullptr;
    QCheckBox *cbFileBased = nullptr, *cbvCardBased = nullptr, *cbPromotion = nullptr;
    QLineEdit* edFileName = nullptr;
    QToolButton* sbLoad = nullptr;
    QLineEdit *edCompanyName = nullptr, *edURL = nullptr, *edPhone = nullptr, *edMessage = nullptr, *edSendAs = nullptr;
    TPromoPreview* imLogo = nullptr;
    QWidget* laTextOverImage = nullptr;
    QToolButton *sbTop = nullptr, *sbMiddle = nullptr, *sbBottom = nullptr;
    QToolButton *sbLeft = nullptr, *sbCenter = nullptr, *sbRight = nullptr;
    QToolButton *sbSelectFile = nullptr, *sbFont = nullptr;
    QLineEdit *edPromoMsg = nullptr, *edValidIn = nullptr, *edPromoSendAs = nullptr;
    QCheckBox* cbEnableCoupon = nullptr;
    QLabel* laValidIn = nullptr;

    std::unique_ptr<ibx::TIBTransaction> IBTransaction;
    std::unique_ptr<ibx::TIBStoredProc> spAddCampaign;
    TOpenDialog OpenDialog;
    TOpenDialog OpenPictureDialog;
    TFontDialog FontDialog;

    // 0 until the campaign is stored; then its CAMPAIGNS_ID.
    int CampaignId = 0;
    // The file chosen on the file page; empty while none was.
    QString FilePath;

    // The chosen codes, as stored.
    int ScheduleCode() const;
    int TypeCode() const;

    // Handlers.
    void btNextClick();
    void btBackClick();
    void cbContinuousClick();
    void cbDateTimeClick();
    void cbDaysOfWeekClick();
    void cbFileBasedClick();
    void cbvCardBasedClick();
    void cbPromotionClick();
    void dtpStartDateChange();
    void dtpEndDateChange();
    void dtpEndDateCloseUp();
    void dtpStartTimeChange();
    void dtpEndTimeChange();
    void dtpStartChange();
    void dtpEndChange();
    void sbLoadClick();
    void sbSelectFileClick();
    void sbFontClick();
    void edPromoMsgChange();
    void cbEnableCouponClick();
    void sbLeftClick();
    void sbCenterClick();
    void sbRightClick();
    void sbTopClick();
    void sbMiddleClick();
    void sbBottomClick();

protected:
    void FormCreate();
    void FormShow();
    void showEvent(QShowEvent* e) override;

private:
    // Checks the fields and stores the campaign; closes the wizard with OK once stored.
    void CreateCampaign();
    // A failed check: its message, the page to correct, the Next caption restored.
    void CheckFailed(const StrKey& message, int page);
    void ShowPage(int page);
    // One group of three boxes in which exactly one is checked.
    static void RadioGroupClick(QCheckBox* clicked, QCheckBox* first, QCheckBox* second, QCheckBox* third);
    TSchedulePickers Pickers() const;

    std::unique_ptr<Ui::TfmWizard> ui_;
};
