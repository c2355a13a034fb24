// What the three campaign editors share: the name, the enabled flag, the schedule with
// its three pages and the rules that keep an end from lying before its start, loading
// a stored campaign, saving it through ADD_CAMPAIGN or UPDATE_CAMPAIGN inside the
// dialog's own transaction, and the discard question on every close but OK.
//
// A concrete editor supplies its content widgets (placed into paContent and
// paLeftContent), its part of the load query and of the procedure parameters.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"

#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QTime>

#include <array>
#include <functional>
#include <memory>

namespace Ui {
class TCampEditor;
}
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimeEdit;
class QVBoxLayout;

// The editors' "now"; tests fix it.
struct TCampaignClock {
    static std::function<QDateTime()> NowHook;
    static QDateTime Now();
};

// The schedule rules over values, so every form that edits a schedule applies the same.
// Only the end ever moves.
struct TScheduleRange {
    QDate StartDate, EndDate;
    QTime StartTime, EndTime;
};
// After a date changed: the end date is not before the start date, and on one day the
// end time is not before the start time.
void ApplyDateRule(TScheduleRange& r);
// After a time changed: on one day the end time is not before the start time.
void ApplyTimeRule(TScheduleRange& r);
// The weekday window's end is not before its start.
QTime ApplyWeekdayRule(const QTime& start, const QTime& end);

// A form's schedule pickers, kept to the rules above as the operator edits them: the end
// pickers follow, quietly, so moving them raises no change of their own.
struct TSchedulePickers {
    QDateEdit *StartDate, *EndDate;
    QTimeEdit *StartTime, *EndTime; // the date range
    QTimeEdit *Start, *End;         // the weekday window
    TScheduleRange Range() const;
    void FollowDateRule() const;
    void FollowTimeRule() const;
    void FollowWeekdayRule() const;
};

// The name of the file a campaign's content is pushed as must be a plain file name:
// not empty, not "." or "..", with no folder separator and no ":".
bool IsPlainFileName(const QString& name);

// The text from the last "." on, when no "\" or ":" follows it, is the extension; the
// result is the name before the first occurrence of that extension (or the name unchanged).
QString StripFileExt(const QString& name);

// A campaign's schedule as ADD_CAMPAIGN and UPDATE_CAMPAIGN take it.
struct TCampaignSchedule {
    int Schedule = 0; // 0 continuous, 1 date and time, 2 days of week
    TScheduleRange Dates;
    QTime WeekStart, WeekEnd;   // the weekday window
    std::array<bool, 7> Days{}; // Monday first
};
// Sets the schedule's parameters: the dates and days always, the times from the date page
// or, for days of week, from the weekday window.
void SetScheduleParams(ibx::TIBStoredProc& sp, const TCampaignSchedule& s);
// Sets the nine parameters only a promotion fills (positions, coupon, message, font,
// validity) to NULL.
void ClearPromotionParams(ibx::TIBStoredProc& sp);

// Campaign type codes.
enum : int { CampTypeFile = 0, CampTypeText = 1, CampTypePromotion = 2 };

class TCampEditor : public QDialog {
    Q_OBJECT

public:
    ~TCampEditor() override;

    // Components under their published names.
    QLabel* imHeader = nullptr;
    QLabel* laTitle = nullptr;
    QLineEdit* edCampaignName = nullptr;
    QCheckBox* cbEnabled = nullptr;
    QComboBox* cbSchedule = nullptr;
    QStackedWidget* PageControl = nullptr;
    QWidget *tsContinuous = nullptr, *tsDateTime = nullptr, *tsDaysOfWeek = nullptr;
    QDateEdit *dtpStartDate = nullptr, *dtpEndDate = nullptr;
    QTimeEdit *dtpStartTime = nullptr, *dtpEndTime = nullptr;
    QCheckBox *cbMonday = nullptr, *cbTuesday = nullptr, *cbWednesday = nullptr, *cbThursday = nullptr,
              *cbFriday = nullptr, *cbSaturday = nullptr, *cbSunday = nullptr;
    QTimeEdit *dtpStart = nullptr, *dtpEnd = nullptr;
    QPushButton *btOK = nullptr, *btCancel = nullptr;

    std::unique_ptr<ibx::TIBTransaction> IBTransaction;
    std::unique_ptr<ibx::TIBStoredProc> spAddCampaign;
    std::unique_ptr<ibx::TIBStoredProc> spUpdateCampaign;
    std::unique_ptr<ibx::TIBQuery> quGetCamp;

    // 0 while the campaign is not stored; then its CAMPAIGNS_ID.
    int CampaignId = 0;

    // The campaign type this editor stores.
    virtual int CampaignType() const = 0;

    // Loads campaign Id into the dialog; an id without a row leaves a new campaign and
    // gives false.
    bool LoadCampaign(int Id);
    // Set when saving found the loaded campaign deleted elsewhere: the user was told, nothing
    // was stored and the dialog closed.
    bool CampaignGone = false;
    // Checks the fields and stores the campaign; false (after telling the user) when
    // a check or the procedure failed. Other errors propagate.
    bool SaveCampaign();

    // Handlers.
    void cbScheduleChange();
    void dtpStartDateChange();
    void dtpEndDateChange();
    void dtpEndDateCloseUp();
    void dtpStartTimeChange();
    void dtpEndTimeChange();
    void dtpStartChange();
    void dtpEndChange();

    // OK saves and commits, or stays open; every other close asks first.
    void done(int r) override;

protected:
    // Builds the common part on the editor's own transaction over db and sets the
    // defaults; the concrete editor then adds its content and calls FormCreate().
    TCampEditor(ibx::TIBDatabase* db, QWidget* parent);

    // Runs the defaults and starts the transaction. Called once by the concrete editor
    // after its widgets exist.
    void FormCreate();
    void FormShow();
    void showEvent(QShowEvent* e) override;

    // Where the content widgets go: between the enabled box and the schedule, and in
    // the left column under the picture.
    QVBoxLayout* ContentLayout() const;
    QVBoxLayout* LeftContentLayout() const;

    // The content's part, for the concrete editor.
    virtual void ContentDefaults() {}
    // Extra columns of the load query ("" for none), each preceded by ", ".
    virtual QString ContentColumns() const { return QString(); }
    virtual void LoadContent(const ibx::TIBQuery& q) = 0;
    // After the query is closed.
    virtual void AfterLoad() {}
    // The text that gives CAMPAIGNS_FILE_NAME (checked for emptiness) and the name stored.
    virtual QString FileNameText() const = 0;
    virtual QString StoredFileName() const = 0;
    // Further checks after the file name (the promotion's picture); false after telling the user.
    virtual bool CheckContent() { return true; }
    // Sets CAMPAIGNS_DATA and the promotion parameters on sp.
    virtual void FillContent(ibx::TIBStoredProc& sp, bool adding) = 0;

    // "campaigns_data" and friends, set by their lower-case names.
    static ibx::TIBXSQLVAR& Param(ibx::TIBStoredProc& sp, const char* name);
    static QString FieldText(const ibx::TIBQuery& q, const char* name);

private:
    void FillCommon(ibx::TIBStoredProc& sp);
    // Whether the campaign of CampaignId is still stored.
    bool CampaignExists();
    TSchedulePickers Pickers() const;

    std::unique_ptr<Ui::TCampEditor> ui_;
};
