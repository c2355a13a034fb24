// The behaviour the three campaign editors share, on the embedded database.
#include "EditorTestSupport.h"
#include "filecamp.h"
#include "strings.h"
#include "textcamp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTimeEdit>

using namespace tavlin::test;

namespace {

class CampEditorTest : public EditorSuite {};

QString Str(const StrKey& k) {
    return QString::fromUtf8(k.text);
}

} // namespace

TEST(ScheduleRules, MoveOnlyTheEnd) {
    TScheduleRange r{QDate(2024, 5, 10), QDate(2024, 5, 9), QTime(18, 0), QTime(9, 0)};
    ApplyDateRule(r);
    EXPECT_EQ(r.EndDate, QDate(2024, 5, 10));
    EXPECT_EQ(r.EndTime, QTime(18, 0)); // equal dates now, so the time follows too
    EXPECT_EQ(r.StartDate, QDate(2024, 5, 10));

    TScheduleRange free{QDate(2024, 5, 10), QDate(2024, 5, 11), QTime(18, 0), QTime(9, 0)};
    ApplyDateRule(free);
    ApplyTimeRule(free);
    EXPECT_EQ(free.EndTime, QTime(9, 0)); // different days: times are free

    TScheduleRange sameDay{QDate(2024, 5, 10), QDate(2024, 5, 10), QTime(12, 0), QTime(11, 59, 59)};
    ApplyTimeRule(sameDay);
    EXPECT_EQ(sameDay.EndTime, QTime(12, 0));

    EXPECT_EQ(ApplyWeekdayRule(QTime(8, 0), QTime(7, 0)), QTime(8, 0));
    EXPECT_EQ(ApplyWeekdayRule(QTime(8, 0), QTime(18, 0)), QTime(18, 0));
}

TEST(FileNames, StripExtensionAndPlainNames) {
    EXPECT_EQ(StripFileExt("card.vcf"), "card");
    EXPECT_EQ(StripFileExt("a.vcf.txt"), "a.vcf");
    EXPECT_EQ(StripFileExt("x.vcf.vcf"), "x"); // first occurrence of the extension
    EXPECT_EQ(StripFileExt("noext"), "noext");
    EXPECT_EQ(StripFileExt("d.v\\f"), "d.v\\f");
    EXPECT_EQ(StripFileExt("c:.x:y"), "c:.x:y");
    EXPECT_EQ(StripFileExt(".vcf"), "");

    EXPECT_TRUE(IsPlainFileName("offer.3gp"));
    EXPECT_TRUE(IsPlainFileName(".vcf"));
    for (const char* bad : {"", ".", "..", "../x", "..\\..\\x", "/etc/passwd", "c:x", "a/b"})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}

TEST_F(CampEditorTest, NewCampaignDefaultsFromTheClock) {
    TfmFileCamp ed(conn_);
    EXPECT_EQ(ed.objectName(), "fmFileCamp");
    EXPECT_EQ(ed.windowTitle(), "Edit File Based Campaign");
    EXPECT_EQ(ed.CampaignId, 0);
    EXPECT_EQ(ed.edCampaignName->text(), "New campaign");
    EXPECT_TRUE(ed.cbEnabled->isChecked());
    EXPECT_EQ(ed.cbSchedule->currentIndex(), 0);
    EXPECT_EQ(ed.PageControl->currentWidget(), ed.tsContinuous);
    EXPECT_EQ(ed.dtpStartDate->date(), QDate(2024, 3, 15));
    EXPECT_EQ(ed.dtpEndDate->date(), QDate(2024, 3, 16));
    EXPECT_EQ(ed.dtpStartTime->time(), QTime(23, 30, 20));
    EXPECT_EQ(ed.dtpEndTime->time(), QTime(23, 30, 20));
    EXPECT_EQ(ed.dtpStart->time(), QTime(23, 30, 20));
    EXPECT_EQ(ed.dtpEnd->time(), QTime(0, 30, 20)); // wraps past midnight, before the start
    for (QCheckBox* day :
         {ed.cbMonday, ed.cbTuesday, ed.cbWednesday, ed.cbThursday, ed.cbFriday, ed.cbSaturday, ed.cbSunday})
        EXPECT_TRUE(day->isChecked());
    EXPECT_TRUE(ed.IBTransaction->InTransaction());
    EXPECT_TRUE(ed.edFileName->text().isEmpty());
    EXPECT_TRUE(ed.FilePath.isEmpty());

    ed.cbSchedule->setCurrentIndex(2);
    EXPECT_EQ(ed.PageControl->currentWidget(), ed.tsDaysOfWeek);
}

TEST_F(CampEditorTest, DateRulesRunOnUserEditsOnly) {
    TfmFileCamp ed(conn_);
    // Start date after the end date: the end date follows, and on one day the end time too.
    ed.dtpEndTime->setTime(QTime(10, 0)); // rule T: same start time? dates differ, kept
    EXPECT_EQ(ed.dtpEndTime->time(), QTime(10, 0));
    ed.dtpStartDate->setDate(QDate(2024, 3, 20));
    EXPECT_EQ(ed.dtpEndDate->date(), QDate(2024, 3, 20));
    EXPECT_EQ(ed.dtpEndTime->time(), QTime(23, 30, 20));
    EXPECT_EQ(ed.dtpStartDate->date(), QDate(2024, 3, 20));
    // The end date cannot be set before the start date.
    ed.dtpEndDate->setDate(QDate(2024, 3, 1));
    EXPECT_EQ(ed.dtpEndDate->date(), QDate(2024, 3, 20));
    // Same day: an end time before the start time is lifted to it.
    ed.dtpEndTime->setTime(QTime(8, 0));
    EXPECT_EQ(ed.dtpEndTime->time(), QTime(23, 30, 20));
    ed.dtpStartTime->setTime(QTime(6, 0));
    ed.dtpEndTime->setTime(QTime(7, 0));
    EXPECT_EQ(ed.dtpEndTime->time(), QTime(7, 0));
    // Weekday window: the end is never before the start once the user touches it.
    ed.dtpStart->setTime(QTime(9, 0));
    EXPECT_EQ(ed.dtpEnd->time(), QTime(9, 0));
    ed.dtpEnd->setTime(QTime(8, 0));
    EXPECT_EQ(ed.dtpEnd->time(), QTime(9, 0));

    // Values the program loads are shown as stored, even when the rules would move them.
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
         "CAMPAIGNS_START_DATE, CAMPAIGNS_END_DATE, CAMPAIGNS_START_TIME, CAMPAIGNS_END_TIME, CAMPAIGNS_FILE_NAME) "
         "values (9001, 'Odd', 0, 1, '2024-06-10', '2024-06-01', '20:00:00', '07:00:00', 'a.txt')");
    TfmFileCamp loaded(conn_);
    loaded.LoadCampaign(9001);
    EXPECT_EQ(loaded.CampaignId, 9001);
    EXPECT_EQ(loaded.dtpEndDate->date(), QDate(2024, 6, 1));
    EXPECT_EQ(loaded.dtpEndTime->time(), QTime(7, 0));
    EXPECT_EQ(loaded.dtpEnd->time(), QTime(7, 0));
    EXPECT_EQ(loaded.cbSchedule->currentIndex(), 1);
    EXPECT_EQ(loaded.PageControl->currentWidget(), loaded.tsDateTime);
    EXPECT_EQ(loaded.edFileName->text(), "a.txt");
}

TEST_F(CampEditorTest, DaysOfWeekScheduleRoundTrip) {
    const QString clip = WriteFile("clip.3gp", "clip bytes");
    int id = 0;
    {
        TfmFileCamp ed(conn_);
        ed.show();
        ChooseFile(clip);
        ed.sbLoadClick();
        EXPECT_EQ(ed.edFileName->text(), "clip.3gp");
        ed.edCampaignName->setText("Weekdays");
        ed.cbSchedule->setCurrentIndex(2);
        ed.dtpStart->setTime(QTime(8, 0));
        ed.dtpEnd->setTime(QTime(18, 0));
        ed.cbWednesday->setChecked(false);
        ed.cbSunday->setChecked(false);
        ed.cbEnabled->setChecked(false);
        ed.accept();
        EXPECT_FALSE(ed.isVisible());
        EXPECT_EQ(ed.result(), QDialog::Accepted);
        EXPECT_FALSE(ed.IBTransaction->InTransaction());
        id = ed.CampaignId;
        ASSERT_GT(id, 0);
    }
    const std::string where = " from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id);
    EXPECT_EQ(Text("select CAMPAIGNS_START_TIME" + where), "08:00:00");
    EXPECT_EQ(Text("select CAMPAIGNS_END_TIME" + where), "18:00:00");
    EXPECT_EQ(Text("select CAMPAIGNS_START_DATE" + where), "2024-03-15");
    EXPECT_EQ(Scalar("select CAMPAIGNS_DAYS_WED" + where).AsInteger(), 0);
    EXPECT_EQ(Scalar("select CAMPAIGNS_DAYS_THU" + where).AsInteger(), 1);
    EXPECT_EQ(Scalar("select CAMPAIGNS_ENABLED" + where).AsInteger(), 0);
    EXPECT_EQ(Scalar("select CAMPAIGNS_TYPE" + where).AsInteger(), 0);
    EXPECT_TRUE(Scalar("select CAMPAIGNS_MESSAGE" + where).IsNull());

    TfmFileCamp back(conn_);
    back.LoadCampaign(id);
    EXPECT_EQ(back.CampaignId, id);
    EXPECT_EQ(back.edCampaignName->text(), "Weekdays");
    EXPECT_EQ(back.cbSchedule->currentIndex(), 2);
    EXPECT_EQ(back.PageControl->currentWidget(), back.tsDaysOfWeek);
    EXPECT_EQ(back.dtpStart->time(), QTime(8, 0));
    EXPECT_EQ(back.dtpEnd->time(), QTime(18, 0));
    EXPECT_FALSE(back.cbWednesday->isChecked());
    EXPECT_FALSE(back.cbSunday->isChecked());
    EXPECT_TRUE(back.cbMonday->isChecked());
    EXPECT_FALSE(back.cbEnabled->isChecked());
    EXPECT_TRUE(back.FilePath.isEmpty());

    // An id without a row leaves a new campaign.
    TfmFileCamp missing(conn_);
    missing.LoadCampaign(777777);
    EXPECT_EQ(missing.CampaignId, 0);
    EXPECT_EQ(missing.edCampaignName->text(), "New campaign");
}

TEST_F(CampEditorTest, AddThenUpdateTheSameCampaignAndKeepOrReplaceItsBytes) {
    const QString clip = WriteFile("clip.3gp", "the clip");
    const int before = Scalar("select count(*) from CAMPAIGNS").AsInteger();
    int id = 0;
    {
        TfmFileCamp ed(conn_);
        ChooseFile(clip);
        ed.sbLoadClick();
        ed.edFileName->setText("offer.3gp");
        ASSERT_TRUE(ed.SaveCampaign());
        id = ed.CampaignId;
        ASSERT_GT(id, 0);
        ed.edCampaignName->setText("Renamed");
        ASSERT_TRUE(ed.SaveCampaign());
        EXPECT_EQ(ed.CampaignId, id); // the second save updated the new campaign
        ed.accept();
        EXPECT_EQ(ed.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Scalar("select count(*) from CAMPAIGNS").AsInteger(), before + 1);
    EXPECT_EQ(Text("select CAMPAIGNS_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id)), "Renamed");
    EXPECT_EQ(Text("select CAMPAIGNS_FILE_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id)),
              "offer.3gp");
    EXPECT_EQ(Blob(id), "the clip");

    { // A rename only keeps the stored bytes.
        TfmFileCamp ed(conn_);
        ed.LoadCampaign(id);
        ed.edFileName->setText("other.3gp");
        ed.accept();
        EXPECT_EQ(ed.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Blob(id), "the clip");
    { // An empty file replaces them with an empty content, not with nothing.
        TfmFileCamp ed(conn_);
        ed.LoadCampaign(id);
        ChooseFile(WriteFile("empty.txt", QByteArray()));
        ed.sbLoadClick();
        ed.accept();
        EXPECT_EQ(ed.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Blob(id), QByteArray(""));
    EXPECT_EQ(Text("select CAMPAIGNS_FILE_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id)),
              "empty.txt");
    EXPECT_TRUE(Shown().isEmpty()) << Shown().join('|').toStdString();
}

TEST_F(CampEditorTest, ChecksComeInOrderAndKeepTheDialogOpen) {
    TfmFileCamp ed(conn_);
    ed.show();
    ed.edCampaignName->clear();
    ed.accept();
    ed.edCampaignName->setText("Name");
    ed.accept();
    for (const char* bad : {"..", "../../x.3gp", "c:x"}) {
        ed.edFileName->setText(bad);
        ed.accept();
    }
    EXPECT_EQ(Shown(), QStringList({Str(STR_CAMPAIGN_NAME), Str(STR_FILE_NAME), Str(STR_FILE_NAME), Str(STR_FILE_NAME),
                                    Str(STR_FILE_NAME)}));
    // A name typed by hand without a chosen file: the read fails at OK with its own text.
    boxes_->Clear();
    ed.edFileName->setText("typed.3gp");
    ed.accept();
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_EQ(boxes_->Asked()[0].type, TMsgDlgType::Error);
    EXPECT_NE(boxes_->Asked()[0].text, Str(STR_UNABLE_ADD_CMPAIGN));
    // A chosen file deleted before OK fails the same way.
    boxes_->Clear();
    const QString gone = WriteFile("gone.3gp", "x");
    ChooseFile(gone);
    ed.sbLoadClick();
    QFile::remove(gone);
    ed.accept();
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_TRUE(boxes_->Asked()[0].text.contains("gone.3gp"));
    EXPECT_TRUE(ed.isVisible());
    EXPECT_EQ(ed.CampaignId, 0);
    EXPECT_TRUE(ed.IBTransaction->InTransaction());
}

TEST_F(CampEditorTest, FailingProcedureKeepsDialogAndTransactionOpen) {
    RefuseCampaignName("Refused");
    TfmTextCamp ed(conn_);
    ed.show();
    ed.edCampaignName->setText("Refused");
    ed.accept();
    EXPECT_EQ(Shown(), QStringList{Str(STR_UNABLE_ADD_CMPAIGN)});
    EXPECT_TRUE(ed.isVisible());
    EXPECT_TRUE(ed.IBTransaction->InTransaction());
    EXPECT_EQ(ed.CampaignId, 0);
    ed.edCampaignName->setText("Card");
    ed.accept();
    EXPECT_FALSE(ed.isVisible());
    const int id = ed.CampaignId;
    ASSERT_GT(id, 0);

    // An update that meets another writer's lock fails at once, and works once it is gone.
    TfmTextCamp upd(conn_);
    upd.LoadCampaign(id);
    upd.show();
    Exec("update CAMPAIGNS set CAMPAIGNS_ENABLED = 1 where CAMPAIGNS_ID = " + std::to_string(id));
    ibx::TIBQuery lock;
    lock.SetTransaction(tr_);
    lock.SetSQL("update CAMPAIGNS set CAMPAIGNS_NAME = 'held' where CAMPAIGNS_ID = " + std::to_string(id));
    lock.ExecSQL();
    boxes_->Clear();
    upd.edCampaignName->setText("Card 2");
    upd.accept();
    EXPECT_EQ(Shown(), QStringList{Str(STR_UNABLE_UPD_CMPAIGN)});
    EXPECT_TRUE(upd.isVisible());
    EXPECT_TRUE(upd.IBTransaction->InTransaction());
    tr_->RollbackRetaining();
    upd.accept();
    EXPECT_FALSE(upd.isVisible());
    EXPECT_EQ(Text("select CAMPAIGNS_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id)), "Card 2");
}

TEST_F(CampEditorTest, ANameOfBlanksIsStoredAsTyped) {
    // The editor refuses only an empty name, and so does the database.
    TfmTextCamp ed(conn_);
    ed.show();
    ed.edCampaignName->setText("   ");
    ed.accept();
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_FALSE(ed.isVisible());
    const int id = ed.CampaignId;
    ASSERT_GT(id, 0);
    const std::string name = "select CAMPAIGNS_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id);
    EXPECT_EQ(Text(name), "   ");
    TfmTextCamp upd(conn_);
    upd.LoadCampaign(id);
    upd.show();
    upd.edCampaignName->setText(" ");
    upd.accept();
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_FALSE(upd.isVisible());
    EXPECT_EQ(Text(name), " ");
}

TEST_F(CampEditorTest, CancelAlwaysAsksAndYesRollsBack) {
    const int before = Scalar("select count(*) from CAMPAIGNS").AsInteger();
    TfmTextCamp ed(conn_);
    ed.cbSchedule->setCurrentIndex(2);
    ed.show(); // translation refills the schedule items
    EXPECT_EQ(ed.cbSchedule->currentIndex(), 2);
    EXPECT_EQ(ed.cbSchedule->itemText(1), "Date time");

    boxes_->Answer(TMsgResult::No);
    ed.reject(); // untouched: still asked
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_EQ(boxes_->Asked()[0].type, TMsgDlgType::Warning);
    EXPECT_EQ(boxes_->Asked()[0].buttons, TMsgButtons::YesNo);
    EXPECT_EQ(boxes_->Asked()[0].text, Str(STR_DISCARD_CHANGES));
    EXPECT_TRUE(ed.isVisible());

    ASSERT_TRUE(ed.SaveCampaign()); // stored in the dialog's transaction, not committed
    boxes_->Answer(TMsgResult::Yes);
    ed.close(); // the close box asks as well
    EXPECT_FALSE(ed.isVisible());
    EXPECT_EQ(ed.result(), QDialog::Rejected);
    EXPECT_FALSE(ed.IBTransaction->InTransaction());
    EXPECT_EQ(Scalar("select count(*) from CAMPAIGNS").AsInteger(), before);
    EXPECT_EQ(boxes_->Unexpected(), 0);
}
