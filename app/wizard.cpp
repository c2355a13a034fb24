#include "wizard.h"
#include "transactionguard.h"

#include "filecamp.h"
#include "jpegcodec.h"
#include "msgbox.h"
#include "promocamp.h"
#include "promopreview.h"
#include "textcamp.h"
#include "translation.h"
#include "ui_wizard.h"

#include <QButtonGroup>
#include <QCalendarWidget>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStyle>

TfmWizard::TfmWizard(ibx::TIBDatabase* db, QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TfmWizard>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    imWizard = ui_->imWizard;
    PageControl = ui_->PageControl;
    tsWelcome = ui_->tsWelcome;
    tsParams = ui_->tsParams;
    tsSchedulingType = ui_->tsSchedulingType;
    tsDateTime = ui_->tsDateTime;
    tsDaysOfWeek = ui_->tsDaysOfWeek;
    tsType = ui_->tsType;
    tsFile = ui_->tsFile;
    tsText = ui_->tsText;
    tsPromo = ui_->tsPromo;
    tsFinish = ui_->tsFinish;
    btBack = ui_->btBack;
    btNext = ui_->btNext;
    btCancel = ui_->btCancel;
    edName = ui_->edName;
    cbEnabled = ui_->cbEnabled;
    cbContinuous = ui_->cbContinuous;
    cbDateTime = ui_->cbDateTime;
    cbDaysOfWeek = ui_->cbDaysOfWeek;
    dtpStartDate = ui_->dtpStartDate;
    dtpEndDate = ui_->dtpEndDate;
    dtpStartTime = ui_->dtpStartTime;
    dtpEndTime = ui_->dtpEndTime;
    cbMonday = ui_->cbMonday;
    cbTuesday = ui_->cbTuesday;
    cbWednesday = ui_->cbWednesday;
    cbThursday = ui_->cbThursday;
    cbFriday = ui_->cbFriday;
    cbSaturday = ui_->cbSaturday;
    cbSunday = ui_->cbSunday;
    dtpStart = ui_->dtpStart;
    dtpEnd = ui_->dtpEnd;
    cbFileBased = ui_->cbFileBased;
    cbvCardBased = ui_->cbvCardBased;
    cbPromotion = ui_->cbPromotion;
    edFileName = ui_->edFileName;
    sbLoad = ui_->sbLoad;
    edCompanyName = ui_->edCompanyName;
    edURL = ui_->edURL;
    edPhone = ui_->edPhone;
    edMessage = ui_->edMessage;
    edSendAs = ui_->edSendAs;
    imLogo = ui_->imLogo;
    laTextOverImage = imLogo->laTextOverImage();
    sbTop = ui_->sbTop;
    sbMiddle = ui_->sbMiddle;
    sbBottom = ui_->sbBottom;
    sbLeft = ui_->sbLeft;
    sbCenter = ui_->sbCenter;
    sbRight = ui_->sbRight;
    sbSelectFile = ui_->sbSelectFile;
    sbFont = ui_->sbFont;
    edPromoMsg = ui_->edPromoMsg;
    edValidIn = ui_->edValidIn;
    edPromoSendAs = ui_->edPromoSendAs;
    cbEnableCoupon = ui_->cbEnableCoupon;
    laValidIn = ui_->laValidIn;

    imWizard->setPixmap(style()->standardIcon(QStyle::SP_FileDialogNewFolder).pixmap(96, 96));

    // The transaction is started only by the creation at Finish.
    IBTransaction = std::make_unique<ibx::TIBTransaction>();
    IBTransaction->SetDefaultDatabase(db);
    IBTransaction->SetParams({"read_committed", "rec_version", "nowait"});
    spAddCampaign = std::make_unique<ibx::TIBStoredProc>();
    spAddCampaign->SetDatabase(db);
    spAddCampaign->SetTransaction(IBTransaction.get());
    spAddCampaign->SetStoredProcName("ADD_CAMPAIGN");
    OpenDialog = CampaignFileDialog();
    OpenPictureDialog = PromoPictureDialog();

    auto* vertical = new QButtonGroup(this);
    for (QToolButton* b : {sbTop, sbMiddle, sbBottom})
        vertical->addButton(b);
    auto* horizontal = new QButtonGroup(this);
    for (QToolButton* b : {sbLeft, sbCenter, sbRight})
        horizontal->addButton(b);

    connect(btNext, &QPushButton::clicked, this, [this] { btNextClick(); });
    connect(btBack, &QPushButton::clicked, this, [this] { btBackClick(); });
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    // The boxes' handlers run on every change, the program's own included.
    connect(cbContinuous, &QCheckBox::toggled, this, [this] { cbContinuousClick(); });
    connect(cbDateTime, &QCheckBox::toggled, this, [this] { cbDateTimeClick(); });
    connect(cbDaysOfWeek, &QCheckBox::toggled, this, [this] { cbDaysOfWeekClick(); });
    connect(cbFileBased, &QCheckBox::toggled, this, [this] { cbFileBasedClick(); });
    connect(cbvCardBased, &QCheckBox::toggled, this, [this] { cbvCardBasedClick(); });
    connect(cbPromotion, &QCheckBox::toggled, this, [this] { cbPromotionClick(); });
    connect(cbEnableCoupon, &QCheckBox::toggled, this, [this] { cbEnableCouponClick(); });
    // Program sets are made under signal blockers, so these see only the user's edits.
    connect(dtpStartDate, &QDateEdit::dateChanged, this, [this] { dtpStartDateChange(); });
    connect(dtpEndDate, &QDateEdit::dateChanged, this, [this] { dtpEndDateChange(); });
    connect(dtpEndDate->calendarWidget(), &QCalendarWidget::clicked, this, [this] { dtpEndDateCloseUp(); });
    connect(dtpStartTime, &QTimeEdit::timeChanged, this, [this] { dtpStartTimeChange(); });
    connect(dtpEndTime, &QTimeEdit::timeChanged, this, [this] { dtpEndTimeChange(); });
    connect(dtpStart, &QTimeEdit::timeChanged, this, [this] { dtpStartChange(); });
    connect(dtpEnd, &QTimeEdit::timeChanged, this, [this] { dtpEndChange(); });
    connect(sbLoad, &QToolButton::clicked, this, [this] { sbLoadClick(); });
    connect(sbSelectFile, &QToolButton::clicked, this, [this] { sbSelectFileClick(); });
    connect(sbFont, &QToolButton::clicked, this, [this] { sbFontClick(); });
    connect(edPromoMsg, &QLineEdit::textChanged, this, [this] { edPromoMsgChange(); });
    connect(sbLeft, &QToolButton::clicked, this, [this] { sbLeftClick(); });
    connect(sbCenter, &QToolButton::clicked, this, [this] { sbCenterClick(); });
    connect(sbRight, &QToolButton::clicked, this, [this] { sbRightClick(); });
    connect(sbTop, &QToolButton::clicked, this, [this] { sbTopClick(); });
    connect(sbMiddle, &QToolButton::clicked, this, [this] { sbMiddleClick(); });
    connect(sbBottom, &QToolButton::clicked, this, [this] { sbBottomClick(); });

    resize(538, 427);
    FormCreate();
}

TfmWizard::~TfmWizard() {
    if (IBTransaction)
        RollbackQuietly(*IBTransaction);
}

void TfmWizard::FormCreate() {
    ShowPage(pgWelcome);
    btBack->setEnabled(false);
    btNext->setText(TranslateText(STR_NEXT));
    const QDateTime now = TCampaignClock::Now();
    const QTime time(now.time().hour(), now.time().minute(), now.time().second());
    {
        const QSignalBlocker b1(dtpStartDate), b2(dtpEndDate), b3(dtpStartTime), b4(dtpEndTime), b5(dtpStart),
            b6(dtpEnd);
        dtpStartDate->setDate(now.date());
        dtpEndDate->setDate(now.date().addDays(1));
        dtpStartTime->setTime(time);
        dtpEndTime->setTime(time);
        dtpStart->setTime(time);
        // A time of day: after 23:00 the end lies before the start until the user edits it.
        dtpEnd->setTime(time.addSecs(3600));
    }
    edSendAs->setText(QStringLiteral("vcard"));
    edPromoSendAs->setText(QStringLiteral("promo"));
    imLogo->SetFont(TPromoFont());
    imLogo->SetHAlign(1);
    imLogo->SetVAlign(1);
    cbEnableCouponClick();
    CampaignId = 0;
    FilePath.clear();
}

void TfmWizard::FormShow() {
    const QString next = btNext->text();
    TranslateForm(this);
    // The caption follows the page, not the form's design.
    btNext->setText(next);
}

void TfmWizard::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

int TfmWizard::ScheduleCode() const {
    return cbContinuous->isChecked() ? 0 : cbDateTime->isChecked() ? 1 : 2;
}

int TfmWizard::TypeCode() const {
    return cbFileBased->isChecked() ? CampTypeFile : cbvCardBased->isChecked() ? CampTypeText : CampTypePromotion;
}

void TfmWizard::ShowPage(int page) {
    PageControl->setCurrentIndex(page);
}

void TfmWizard::btNextClick() {
    switch (PageControl->currentIndex()) {
    case pgWelcome:
        ShowPage(pgParams);
        btBack->setEnabled(true);
        break;
    case pgParams:
        ShowPage(pgSchedulingType);
        break;
    case pgSchedulingType:
        ShowPage(cbContinuous->isChecked() ? pgType : cbDateTime->isChecked() ? pgDateTime : pgDaysOfWeek);
        break;
    case pgDateTime:
    case pgDaysOfWeek:
        ShowPage(pgType);
        break;
    case pgType:
        ShowPage(cbFileBased->isChecked() ? pgFile : cbvCardBased->isChecked() ? pgText : pgPromo);
        break;
    case pgFile:
    case pgText:
    case pgPromo:
        ShowPage(pgFinish);
        btNext->setText(TranslateText(STR_FINISH));
        break;
    case pgFinish:
        try {
            CreateCampaign();
        } catch (const std::exception& e) {
            ShowException(this, e);
        }
        break;
    default:
        break;
    }
}

void TfmWizard::btBackClick() {
    switch (PageControl->currentIndex()) {
    case pgParams:
        ShowPage(pgWelcome);
        btBack->setEnabled(false);
        break;
    case pgSchedulingType:
        ShowPage(pgParams);
        break;
    case pgDateTime:
    case pgDaysOfWeek:
        ShowPage(pgSchedulingType);
        break;
    case pgType:
        ShowPage(cbContinuous->isChecked() ? pgSchedulingType : cbDateTime->isChecked() ? pgDateTime : pgDaysOfWeek);
        break;
    case pgFile:
    case pgText:
    case pgPromo:
        ShowPage(pgType);
        break;
    case pgFinish:
        ShowPage(cbFileBased->isChecked() ? pgFile : cbvCardBased->isChecked() ? pgText : pgPromo);
        btNext->setText(TranslateText(STR_NEXT));
        break;
    default:
        break;
    }
}

void TfmWizard::RadioGroupClick(QCheckBox* clicked, QCheckBox* first, QCheckBox* second, QCheckBox* third) {
    if (clicked->isChecked())
        for (QCheckBox* box : {first, second, third})
            if (box != clicked)
                box->setChecked(false);
    if (!first->isChecked() && !second->isChecked() && !third->isChecked())
        first->setChecked(true);
}

void TfmWizard::cbContinuousClick() {
    RadioGroupClick(cbContinuous, cbContinuous, cbDateTime, cbDaysOfWeek);
}
void TfmWizard::cbDateTimeClick() {
    RadioGroupClick(cbDateTime, cbContinuous, cbDateTime, cbDaysOfWeek);
}
void TfmWizard::cbDaysOfWeekClick() {
    RadioGroupClick(cbDaysOfWeek, cbContinuous, cbDateTime, cbDaysOfWeek);
}
void TfmWizard::cbFileBasedClick() {
    RadioGroupClick(cbFileBased, cbFileBased, cbvCardBased, cbPromotion);
}
void TfmWizard::cbvCardBasedClick() {
    RadioGroupClick(cbvCardBased, cbFileBased, cbvCardBased, cbPromotion);
}
void TfmWizard::cbPromotionClick() {
    RadioGroupClick(cbPromotion, cbFileBased, cbvCardBased, cbPromotion);
}

TSchedulePickers TfmWizard::Pickers() const {
    return {dtpStartDate, dtpEndDate, dtpStartTime, dtpEndTime, dtpStart, dtpEnd};
}

void TfmWizard::dtpStartDateChange() {
    Pickers().FollowDateRule();
}

void TfmWizard::dtpEndDateChange() {
    dtpStartDateChange();
}

void TfmWizard::dtpEndDateCloseUp() {
    dtpStartDateChange();
}

void TfmWizard::dtpStartTimeChange() {
    Pickers().FollowTimeRule();
}

void TfmWizard::dtpEndTimeChange() {
    dtpStartTimeChange();
}

void TfmWizard::dtpStartChange() {
    Pickers().FollowWeekdayRule();
}

void TfmWizard::dtpEndChange() {
    dtpStartChange();
}

void TfmWizard::sbLoadClick() {
    if (!OpenDialog.Execute(this))
        return;
    // Only the path is kept: the file is read at Finish.
    FilePath = OpenDialog.FileName;
    edFileName->setText(QFileInfo(FilePath).fileName());
}

void TfmWizard::sbSelectFileClick() {
    ChoosePromoPicture(this, OpenPictureDialog, edPromoSendAs, imLogo);
}

void TfmWizard::sbFontClick() {
    ChoosePromoFont(this, FontDialog, imLogo);
}

void TfmWizard::edPromoMsgChange() {
    imLogo->SetText(PromoPreviewText(edPromoMsg->text(), cbEnableCoupon->isChecked()));
}

void TfmWizard::cbEnableCouponClick() {
    edPromoMsgChange();
    ShowCouponValidity(cbEnableCoupon->isChecked(), laValidIn, edValidIn);
}

void TfmWizard::sbLeftClick() {
    imLogo->SetHAlign(0);
}
void TfmWizard::sbCenterClick() {
    imLogo->SetHAlign(1);
}
void TfmWizard::sbRightClick() {
    imLogo->SetHAlign(2);
}
void TfmWizard::sbTopClick() {
    imLogo->SetVAlign(0);
}
void TfmWizard::sbMiddleClick() {
    imLogo->SetVAlign(1);
}
void TfmWizard::sbBottomClick() {
    imLogo->SetVAlign(2);
}

void TfmWizard::CheckFailed(const StrKey& message, int page) {
    ErrorOK(this, TranslateText(message));
    ShowPage(page);
    btNext->setText(TranslateText(STR_NEXT));
}

void TfmWizard::CreateCampaign() {
    const int type = TypeCode();
    if (edName->text().isEmpty()) {
        CheckFailed(STR_CAMPAIGN_NAME, pgParams);
        return;
    }
    // The name is pushed as a file name on the phone and written into the work folder
    // first, so only a plain file name is taken.
    QLineEdit* const typed = type == CampTypeFile ? edFileName : type == CampTypeText ? edSendAs : edPromoSendAs;
    const QString fileName = type == CampTypeFile   ? edFileName->text()
                             : type == CampTypeText ? StripFileExt(edSendAs->text()) + QStringLiteral(".vcf")
                                                    : StripFileExt(edPromoSendAs->text()) + QStringLiteral(".jpg");
    if (typed->text().isEmpty() || !IsPlainFileName(fileName)) {
        CheckFailed(STR_FILE_NAME, type == CampTypeFile ? pgFile : type == CampTypeText ? pgText : pgPromo);
        return;
    }
    if (type == CampTypePromotion && imLogo->Picture().isNull()) {
        CheckFailed(STR_IMAGE, pgPromo);
        return;
    }
    if (type == CampTypePromotion && !CheckCouponValidity(this, cbEnableCoupon, laValidIn, edValidIn)) {
        ShowPage(pgPromo);
        btNext->setText(TranslateText(STR_NEXT));
        return;
    }

    // The content is made before the transaction starts: a file that cannot be read or
    // a picture that cannot be encoded leaves nothing open.
    TCampaignSchedule schedule;
    schedule.Schedule = ScheduleCode();
    schedule.Dates = Pickers().Range();
    schedule.WeekStart = dtpStart->time();
    schedule.WeekEnd = dtpEnd->time();
    QCheckBox* const days[7] = {cbMonday, cbTuesday, cbWednesday, cbThursday, cbFriday, cbSaturday, cbSunday};
    for (size_t i = 0; i < 7; ++i)
        schedule.Days[i] = days[i]->isChecked();
    QByteArray data;
    TPromotionParams promotion;
    if (type == CampTypeFile) {
        data = ReadCampaignFile(FilePath);
    } else if (type == CampTypeText) {
        data = CampaignCard(edCompanyName->text(), edURL->text(), edPhone->text(), edMessage->text());
    } else {
        promotion.Jpeg = EncodeJpeg(imLogo->Picture());
        promotion.VAlign = PromoVAlignCode(sbMiddle, sbBottom);
        promotion.HAlign = PromoHAlignCode(sbLeft, sbCenter);
        promotion.UseCoupon = cbEnableCoupon->isChecked();
        promotion.Message = edPromoMsg->text();
        promotion.ValidIn = edValidIn->text();
    }

    ibx::TIBStoredProc& sp = *spAddCampaign;
    IBTransaction->StartTransaction();
    try {
        sp.ParamByName("campaigns_name").SetAsWideString(edName->text().toStdU16String());
        SetScheduleParams(sp, schedule);
        sp.ParamByName("campaigns_type").SetAsInteger(type);
        sp.ParamByName("campaigns_enabled").SetAsInteger(cbEnabled->isChecked() ? 1 : 0);
        sp.ParamByName("campaigns_file_name").SetAsWideString(fileName.toStdU16String());
        if (type == CampTypePromotion) {
            SetPromotionParams(sp, promotion);
        } else {
            ClearPromotionParams(sp);
            sp.ParamByName("campaigns_data").SetAsBytes(ibx::TBytes(data.begin(), data.end()));
        }
        // Every type carries the preview's font, the default one unless the user chose another.
        SetFontParams(sp, imLogo->Font());
        sp.ExecProc();
        CampaignId = sp.ParamByName("campaigns_id").AsInteger();
        sp.Close();
        // The content may be large; it is not kept past the call.
        sp.ParamByName("campaigns_data").Clear();
        IBTransaction->Commit();
    } catch (const std::exception& e) {
        // Nothing was stored: the id of a rolled-back row must not reach the campaign list.
        CampaignId = 0;
        sp.Close();
        RollbackQuietly(*IBTransaction);
        ErrorOK(this, TranslateText(IsUnstorableText(e) ? STR_UNSTORABLE_TEXT : STR_UNABLE_ADD_CMPAIGN));
        return;
    }
    done(QDialog::Accepted);
}
