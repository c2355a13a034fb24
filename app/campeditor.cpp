#include "campeditor.h"
#include "transactionguard.h"

#include "busycursor.h"
#include "msgbox.h"
#include "strings.h"
#include "translation.h"
#include "ui_campeditor.h"

#include <QCalendarWidget>
#include <QSignalBlocker>
#include <QStyle>

std::function<QDateTime()> TCampaignClock::NowHook;

QDateTime TCampaignClock::Now() {
    return NowHook ? NowHook() : QDateTime::currentDateTime();
}

void ApplyDateRule(TScheduleRange& r) {
    if (r.EndDate < r.StartDate)
        r.EndDate = r.StartDate;
    if (r.EndDate == r.StartDate && r.StartTime > r.EndTime)
        r.EndTime = r.StartTime;
}

void ApplyTimeRule(TScheduleRange& r) {
    if (r.StartDate == r.EndDate && r.EndTime < r.StartTime)
        r.EndTime = r.StartTime;
}

QTime ApplyWeekdayRule(const QTime& start, const QTime& end) {
    return end < start ? start : end;
}

TScheduleRange TSchedulePickers::Range() const {
    return {StartDate->date(), EndDate->date(), StartTime->time(), EndTime->time()};
}

namespace {

void ShowEnd(const TSchedulePickers& p, const TScheduleRange& r) {
    const QSignalBlocker b1(p.EndDate), b2(p.EndTime);
    if (p.EndDate->date() != r.EndDate)
        p.EndDate->setDate(r.EndDate);
    if (p.EndTime->time() != r.EndTime)
        p.EndTime->setTime(r.EndTime);
}

} // namespace

void TSchedulePickers::FollowDateRule() const {
    TScheduleRange r = Range();
    ApplyDateRule(r);
    ShowEnd(*this, r);
}

void TSchedulePickers::FollowTimeRule() const {
    TScheduleRange r = Range();
    ApplyTimeRule(r);
    ShowEnd(*this, r);
}

void TSchedulePickers::FollowWeekdayRule() const {
    const QTime end = ApplyWeekdayRule(Start->time(), End->time());
    if (end != End->time()) {
        const QSignalBlocker block(End);
        End->setTime(end);
    }
}

bool IsPlainFileName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (QChar c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20)
            return false;
    return true;
}

QString StripFileExt(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return name;
    const QString ext = name.mid(dot);
    if (ext.contains(QLatin1Char('\\')) || ext.contains(QLatin1Char(':')))
        return name;
    return name.left(name.indexOf(ext));
}

namespace {

QTime WholeSeconds(const QTime& t) {
    return QTime(t.hour(), t.minute(), t.second());
}

ibx::TDate ToIb(const QDate& d) {
    return ibx::TDate{d.year(), d.month(), d.day()};
}

ibx::TTime ToIb(const QTime& t) {
    return ibx::TTime{t.hour(), t.minute(), t.second(), 0};
}

QDate FieldDate(const ibx::TIBXSQLVAR& f) {
    if (f.IsNull())
        return QDate();
    const ibx::TDate d = f.AsDate();
    return QDate(d.Year, d.Month, d.Day);
}

QTime FieldTime(const ibx::TIBXSQLVAR& f) {
    if (f.IsNull())
        return QTime();
    const ibx::TTime t = f.AsTime();
    return QTime(t.Hour, t.Minute, t.Second);
}

int FieldInt(const ibx::TIBXSQLVAR& f) {
    return f.IsNull() ? 0 : f.AsInteger();
}

const char* const DayColumns[7] = {"CAMPAIGNS_DAYS_MON", "CAMPAIGNS_DAYS_TUE", "CAMPAIGNS_DAYS_WED",
                                   "CAMPAIGNS_DAYS_THU", "CAMPAIGNS_DAYS_FRI", "CAMPAIGNS_DAYS_SAT",
                                   "CAMPAIGNS_DAYS_SUN"};

} // namespace

TCampEditor::TCampEditor(ibx::TIBDatabase* db, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TCampEditor>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    imHeader = ui_->imHeader;
    laTitle = ui_->laTitle;
    edCampaignName = ui_->edCampaignName;
    cbEnabled = ui_->cbEnabled;
    cbSchedule = ui_->cbSchedule;
    PageControl = ui_->PageControl;
    tsContinuous = ui_->tsContinuous;
    tsDateTime = ui_->tsDateTime;
    tsDaysOfWeek = ui_->tsDaysOfWeek;
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
    btOK = ui_->btOK;
    btCancel = ui_->btCancel;

    imHeader->setPixmap(style()->standardIcon(QStyle::SP_FileDialogDetailedView).pixmap(96, 96));

    IBTransaction = std::make_unique<ibx::TIBTransaction>();
    IBTransaction->SetDefaultDatabase(db);
    IBTransaction->SetParams({"read_committed", "rec_version", "nowait"});
    spAddCampaign = std::make_unique<ibx::TIBStoredProc>();
    spAddCampaign->SetDatabase(db);
    spAddCampaign->SetTransaction(IBTransaction.get());
    spAddCampaign->SetStoredProcName("ADD_CAMPAIGN");
    spUpdateCampaign = std::make_unique<ibx::TIBStoredProc>();
    spUpdateCampaign->SetDatabase(db);
    spUpdateCampaign->SetTransaction(IBTransaction.get());
    spUpdateCampaign->SetStoredProcName("UPDATE_CAMPAIGN");
    quGetCamp = std::make_unique<ibx::TIBQuery>();
    quGetCamp->SetDatabase(db);
    quGetCamp->SetTransaction(IBTransaction.get());

    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbSchedule, &QComboBox::currentIndexChanged, this, [this] { cbScheduleChange(); });
    // Program sets are made under signal blockers, so these see only the user's edits.
    connect(dtpStartDate, &QDateEdit::dateChanged, this, [this] { dtpStartDateChange(); });
    connect(dtpEndDate, &QDateEdit::dateChanged, this, [this] { dtpEndDateChange(); });
    connect(dtpEndDate->calendarWidget(), &QCalendarWidget::clicked, this, [this] { dtpEndDateCloseUp(); });
    connect(dtpStartTime, &QTimeEdit::timeChanged, this, [this] { dtpStartTimeChange(); });
    connect(dtpEndTime, &QTimeEdit::timeChanged, this, [this] { dtpEndTimeChange(); });
    connect(dtpStart, &QTimeEdit::timeChanged, this, [this] { dtpStartChange(); });
    connect(dtpEnd, &QTimeEdit::timeChanged, this, [this] { dtpEndChange(); });
}

TCampEditor::~TCampEditor() {
    // A dialog freed without OK or a confirmed Cancel leaves nothing behind.
    if (IBTransaction)
        RollbackQuietly(*IBTransaction);
}

QVBoxLayout* TCampEditor::ContentLayout() const {
    return ui_->layContent;
}

QVBoxLayout* TCampEditor::LeftContentLayout() const {
    return ui_->layLeftContent;
}

void TCampEditor::FormCreate() {
    const QDateTime now = TCampaignClock::Now();
    const QTime time = WholeSeconds(now.time());
    {
        const QSignalBlocker b1(cbSchedule), b2(dtpStartDate), b3(dtpEndDate), b4(dtpStartTime), b5(dtpEndTime),
            b6(dtpStart), b7(dtpEnd);
        cbSchedule->setCurrentIndex(0);
        PageControl->setCurrentIndex(0);
        cbEnabled->setChecked(true);
        edCampaignName->setText(QStringLiteral("New campaign"));
        dtpStartDate->setDate(now.date());
        dtpEndDate->setDate(now.date().addDays(1));
        dtpStartTime->setTime(time);
        dtpEndTime->setTime(time);
        dtpStart->setTime(time);
        // A time of day: after 23:00 the end lies before the start until the user edits it.
        dtpEnd->setTime(time.addSecs(3600));
        for (QCheckBox* day : {cbMonday, cbTuesday, cbWednesday, cbThursday, cbFriday, cbSaturday, cbSunday})
            day->setChecked(true);
    }
    CampaignId = 0;
    ContentDefaults();
    IBTransaction->StartTransaction();
}

void TCampEditor::FormShow() {
    const int schedule = cbSchedule->currentIndex();
    const QSignalBlocker block(cbSchedule);
    TranslateForm(this);
    cbSchedule->setCurrentIndex(schedule);
}

void TCampEditor::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

void TCampEditor::cbScheduleChange() {
    PageControl->setCurrentIndex(cbSchedule->currentIndex() < 0 ? 0 : cbSchedule->currentIndex());
}

TSchedulePickers TCampEditor::Pickers() const {
    return {dtpStartDate, dtpEndDate, dtpStartTime, dtpEndTime, dtpStart, dtpEnd};
}

void TCampEditor::dtpStartDateChange() {
    Pickers().FollowDateRule();
}

void TCampEditor::dtpEndDateChange() {
    dtpStartDateChange();
}

void TCampEditor::dtpEndDateCloseUp() {
    dtpStartDateChange();
}

void TCampEditor::dtpStartTimeChange() {
    Pickers().FollowTimeRule();
}

void TCampEditor::dtpEndTimeChange() {
    dtpStartTimeChange();
}

void TCampEditor::dtpStartChange() {
    Pickers().FollowWeekdayRule();
}

void TCampEditor::dtpEndChange() {
    dtpStartChange();
}

QString TCampEditor::FieldText(const ibx::TIBQuery& q, const char* name) {
    const ibx::TIBXSQLVAR& f = q.FieldByName(name);
    return f.IsNull() ? QString() : QString::fromStdU16String(f.AsWideString());
}

bool TCampEditor::LoadCampaign(int Id) {
    quGetCamp->Close();
    quGetCamp->SetSQL(("select CAMPAIGNS_NAME, CAMPAIGNS_ENABLED, CAMPAIGNS_END_DATE, CAMPAIGNS_END_TIME, "
                       "CAMPAIGNS_FILE_NAME, CAMPAIGNS_SCHEDULE, CAMPAIGNS_START_DATE, CAMPAIGNS_START_TIME, "
                       "CAMPAIGNS_DAYS_MON, CAMPAIGNS_DAYS_TUE, CAMPAIGNS_DAYS_WED, CAMPAIGNS_DAYS_THU, "
                       "CAMPAIGNS_DAYS_FRI, CAMPAIGNS_DAYS_SAT, CAMPAIGNS_DAYS_SUN" +
                       ContentColumns() + " from CAMPAIGNS where CAMPAIGNS_ID = :ID")
                          .toStdString());
    quGetCamp->ParamByName("id").SetAsInteger(Id);
    quGetCamp->Open();
    quGetCamp->FetchAll();
    quGetCamp->First();
    const bool found = quGetCamp->RecordCount() > 0;
    if (found) {
        const ibx::TIBQuery& q = *quGetCamp;
        const QSignalBlocker b1(cbSchedule), b2(dtpStartDate), b3(dtpEndDate), b4(dtpStartTime), b5(dtpEndTime),
            b6(dtpStart), b7(dtpEnd);
        edCampaignName->setText(FieldText(q, "CAMPAIGNS_NAME"));
        const QDate startDate = FieldDate(q.FieldByName("CAMPAIGNS_START_DATE"));
        const QDate endDate = FieldDate(q.FieldByName("CAMPAIGNS_END_DATE"));
        const QTime startTime = FieldTime(q.FieldByName("CAMPAIGNS_START_TIME"));
        const QTime endTime = FieldTime(q.FieldByName("CAMPAIGNS_END_TIME"));
        // A missing value keeps the default rather than showing a blank picker.
        if (startDate.isValid())
            dtpStartDate->setDate(startDate);
        if (endDate.isValid())
            dtpEndDate->setDate(endDate);
        if (startTime.isValid()) {
            dtpStartTime->setTime(startTime);
            dtpStart->setTime(startTime);
        }
        if (endTime.isValid()) {
            dtpEndTime->setTime(endTime);
            dtpEnd->setTime(endTime);
        }
        LoadContent(q);
        const int schedule = FieldInt(q.FieldByName("CAMPAIGNS_SCHEDULE"));
        cbSchedule->setCurrentIndex(schedule >= 0 && schedule < cbSchedule->count() ? schedule : 0);
        cbEnabled->setChecked(FieldInt(q.FieldByName("CAMPAIGNS_ENABLED")) == 1);
        QCheckBox* days[7] = {cbMonday, cbTuesday, cbWednesday, cbThursday, cbFriday, cbSaturday, cbSunday};
        for (int i = 0; i < 7; ++i)
            days[i]->setChecked(FieldInt(q.FieldByName(DayColumns[i])) == 1);
        PageControl->setCurrentIndex(cbSchedule->currentIndex());
        CampaignId = Id;
    }
    quGetCamp->Close();
    AfterLoad();
    return found;
}

bool TCampEditor::CampaignExists() {
    quGetCamp->Close();
    quGetCamp->SetSQL("select CAMPAIGNS_ID from CAMPAIGNS where CAMPAIGNS_ID = :ID");
    quGetCamp->ParamByName("id").SetAsInteger(CampaignId);
    quGetCamp->Open();
    const bool exists = !quGetCamp->Eof();
    quGetCamp->Close();
    return exists;
}

ibx::TIBXSQLVAR& TCampEditor::Param(ibx::TIBStoredProc& sp, const char* name) {
    return sp.ParamByName(name);
}

void ClearPromotionParams(ibx::TIBStoredProc& sp) {
    for (const char* name :
         {"campaigns_valign", "campaigns_halign", "campaigns_use_coupon", "campaigns_message", "campaigns_font_name",
          "campaigns_font_size", "campaigns_font_style", "campaigns_font_color", "campaigns_valid_in"})
        sp.ParamByName(name).Clear();
}

void SetScheduleParams(ibx::TIBStoredProc& sp, const TCampaignSchedule& s) {
    const bool weekdays = s.Schedule == 2;
    sp.ParamByName("campaigns_schedule").SetAsInteger(s.Schedule);
    sp.ParamByName("campaigns_start_date").SetAsDate(ToIb(s.Dates.StartDate));
    sp.ParamByName("campaigns_start_time").SetAsTime(ToIb(weekdays ? s.WeekStart : s.Dates.StartTime));
    sp.ParamByName("campaigns_end_date").SetAsDate(ToIb(s.Dates.EndDate));
    sp.ParamByName("campaigns_end_time").SetAsTime(ToIb(weekdays ? s.WeekEnd : s.Dates.EndTime));
    const char* const dayParams[7] = {"campaigns_days_mon", "campaigns_days_tue", "campaigns_days_wed",
                                      "campaigns_days_thu", "campaigns_days_fri", "campaigns_days_sat",
                                      "campaigns_days_sun"};
    for (size_t i = 0; i < s.Days.size(); ++i)
        sp.ParamByName(dayParams[i]).SetAsInteger(s.Days[i] ? 1 : 0);
}

void TCampEditor::FillCommon(ibx::TIBStoredProc& sp) {
    TCampaignSchedule schedule;
    schedule.Schedule = cbSchedule->currentIndex();
    schedule.Dates = Pickers().Range();
    schedule.WeekStart = dtpStart->time();
    schedule.WeekEnd = dtpEnd->time();
    QCheckBox* days[7] = {cbMonday, cbTuesday, cbWednesday, cbThursday, cbFriday, cbSaturday, cbSunday};
    for (size_t i = 0; i < 7; ++i)
        schedule.Days[i] = days[i]->isChecked();
    Param(sp, "campaigns_name").SetAsWideString(edCampaignName->text().toStdU16String());
    SetScheduleParams(sp, schedule);
    Param(sp, "campaigns_enabled").SetAsInteger(cbEnabled->isChecked() ? 1 : 0);
    Param(sp, "campaigns_file_name").SetAsWideString(StoredFileName().toStdU16String());
}

bool TCampEditor::SaveCampaign() {
    if (edCampaignName->text().isEmpty()) {
        ErrorOK(this, TranslateText(STR_CAMPAIGN_NAME));
        return false;
    }
    // The name is pushed as a file name on the phone and written into the work folder
    // first, so only a plain file name is taken.
    if (FileNameText().isEmpty() || !IsPlainFileName(StoredFileName())) {
        ErrorOK(this, TranslateText(STR_FILE_NAME));
        return false;
    }
    if (!CheckContent())
        return false;

    const bool adding = CampaignId == 0;
    ibx::TIBStoredProc& sp = adding ? *spAddCampaign : *spUpdateCampaign;
    FillCommon(sp);
    if (adding)
        Param(sp, "campaigns_type").SetAsInteger(CampaignType());
    else
        Param(sp, "campaigns_id").SetAsInteger(CampaignId);
    bool stored = true;
    bool unstorableText = false;
    {
        // Reading and storing a large content takes seconds.
        TBusyCursor busy;
        FillContent(sp, adding);
        try {
            sp.ExecProc();
        } catch (const std::exception& e) {
            sp.Close();
            stored = false;
            unstorableText = IsUnstorableText(e);
        }
    }
    if (!stored) {
        // Deleted elsewhere while the dialog was open: storing it anew would make a campaign
        // the user never asked for.
        if (!adding && !CampaignExists()) {
            CampaignGone = true;
            ErrorOK(this, TranslateText(STR_CAMPAIGN_GONE));
            return false;
        }
        ErrorOK(this, TranslateText(unstorableText ? STR_UNSTORABLE_TEXT
                                    : adding       ? STR_UNABLE_ADD_CMPAIGN
                                                   : STR_UNABLE_UPD_CMPAIGN));
        return false;
    }
    if (adding) {
        CampaignId = sp.ParamByName("campaigns_id").AsInteger();
        sp.Close();
    }
    // The content may be large; it is not kept past the call.
    sp.ParamByName("campaigns_data").Clear();
    return true;
}

void TCampEditor::done(int r) {
    if (r == QDialog::Accepted) {
        try {
            if (!SaveCampaign()) {
                if (CampaignGone) {
                    RollbackQuietly(*IBTransaction);
                    QDialog::done(QDialog::Rejected);
                }
                return;
            }
            IBTransaction->Commit();
        } catch (const std::exception& e) {
            ShowException(this, e);
            return;
        }
        QDialog::done(r);
        return;
    }
    if (!WarningYesNo(this, TranslateText(STR_DISCARD_CHANGES)))
        return;
    try {
        if (IBTransaction->InTransaction())
            IBTransaction->Rollback();
    } catch (const std::exception& e) {
        ShowException(this, e);
    }
    QDialog::done(r);
}
