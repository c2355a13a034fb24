// The main window's campaign list on the embedded database.
#include "EditorTestSupport.h"
#include "campaignlist.h"
#include "filecamp.h"
#include "strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>

using namespace tavlin::test;

namespace {

class CampaignListTest : public EditorSuite {
protected:
    void SetUp() override {
        EditorSuite::SetUp();
        tree_ = std::make_unique<QTreeWidget>();
        tree_->setColumnCount(4);
        list_ = std::make_unique<TCampaignList>(tree_.get(), conn_, tr_, nullptr);
        Exec("delete from CAMPAIGN_LOCKS");
        Exec("delete from CAMPAIGNS");
    }
    void TearDown() override {
        list_.reset();
        tree_.reset();
        EditorSuite::TearDown();
    }
    QStringList Row(int i) const {
        QTreeWidgetItem* item = tree_->topLevelItem(i);
        return {item->text(0), item->text(1), item->text(2), item->text(3)};
    }
    void Select(int i) { tree_->setCurrentItem(tree_->topLevelItem(i)); }

    std::unique_ptr<QTreeWidget> tree_;
    std::unique_ptr<TCampaignList> list_;
};

QString Str(const StrKey& k) {
    return QString::fromUtf8(k.text);
}

} // namespace

TEST_F(CampaignListTest, RefreshShowsCodesAsTextsAndUnknownOnesAsUnknown) {
    EXPECT_EQ(CampaignTypeText(2), "Promotion");
    EXPECT_EQ(CampaignTypeText(-1), "Unknown");
    EXPECT_EQ(ScheduleText(1), "Date/time");
    EXPECT_EQ(ScheduleText(3), "Unknown");

    // Codes from a newer or foreign writer: the database of this station refuses them,
    // so the checks are lifted for the test.
    Exec("alter table CAMPAIGNS drop constraint CHK_CAMPAIGNS_TYPE");
    Exec("alter table CAMPAIGNS drop constraint CHK_CAMPAIGNS_SCHEDULE");
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, CAMPAIGNS_ENABLED) "
         "values (501, 'Zeta', 7, 9, 0)");
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, CAMPAIGNS_ENABLED) "
         "values (502, 'Alpha', 1, 2, 1)");
    list_->Refresh();
    ASSERT_EQ(tree_->topLevelItemCount(), 2);
    EXPECT_EQ(Row(0), QStringList({"Alpha", "Text", "Days of week", "Yes"}));
    EXPECT_EQ(Row(1), QStringList({"Zeta", "Unknown", "Unknown", "No"}));
    EXPECT_EQ(TCampaignList::RowId(tree_->topLevelItem(1)), 501);

    // An unknown type cannot be opened for editing.
    Select(1);
    list_->Edit();
    EXPECT_EQ(Shown(), QStringList{Str(STR_UNSUPPORTED_CAMP_TYPE)});
    Exec("delete from CAMPAIGNS");
    Exec("alter table CAMPAIGNS add constraint CHK_CAMPAIGNS_TYPE check (CAMPAIGNS_TYPE between 0 and 2)");
    Exec("alter table CAMPAIGNS add constraint CHK_CAMPAIGNS_SCHEDULE check (CAMPAIGNS_SCHEDULE between 0 and 2)");
}

TEST_F(CampaignListTest, AddAppendsAndEditUpdatesTheRowInPlace) {
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
         "CAMPAIGNS_FILE_NAME) values (601, 'Zulu', 1, 0, 'z.vcf')");
    list_->Refresh();
    QString editorClass;
    list_->ShowModalHook = [&](TCampEditor& ed) {
        editorClass = ed.metaObject()->className();
        if (ed.CampaignId == 0)
            ed.edCampaignName->setText("Alpha");
        else
            ed.edCampaignName->setText(ed.edCampaignName->text() + " 2");
        ed.cbSchedule->setCurrentIndex(1);
        ed.cbEnabled->setChecked(false);
        ed.accept();
        return ed.result();
    };
    list_->AddTextBased();
    ASSERT_EQ(tree_->topLevelItemCount(), 2);
    EXPECT_EQ(editorClass, "TfmTextCamp");
    EXPECT_EQ(Row(1), QStringList({"Alpha", "Text", "Date/time", "No"})); // at the end until the next refresh
    const int id = TCampaignList::RowId(tree_->topLevelItem(1));
    EXPECT_EQ(Text("select CAMPAIGNS_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id)), "Alpha");

    Select(0);
    list_->Edit();
    EXPECT_EQ(editorClass, "TfmTextCamp");
    EXPECT_EQ(Row(0), QStringList({"Zulu 2", "Text", "Date/time", "No"}));

    // A cancelled editor changes nothing.
    boxes_->Answer(TMsgResult::Yes);
    list_->ShowModalHook = [](TCampEditor& ed) {
        ed.reject();
        return ed.result();
    };
    list_->AddPromotion();
    EXPECT_EQ(tree_->topLevelItemCount(), 2);
    list_->Refresh();
    EXPECT_EQ(Row(0)[0], "Alpha");
    EXPECT_EQ(boxes_->Unexpected(), 0);
}

TEST_F(CampaignListTest, DeleteAsksAndKeepsARunningCampaign) {
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE) "
         "values (701, 'Busy', 0, 0)");
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE) "
         "values (702, 'Free', 0, 0)");
    Exec("insert into CAMPAIGN_LOCKS (CAMPAIGN_LOCKS_ID, CAMPAIGN_LOCKS_CAMPAIGNS_ID, CAMPAIGN_LOCKS_DONGLE_MAC, "
         "CAMPAIGN_LOCKS_LOCK_TIME) values (1, 701, '(00:11:22:33:44:55)', current_timestamp)");
    list_->Refresh();
    ASSERT_EQ(tree_->topLevelItemCount(), 2);

    Select(0);
    boxes_->Answer(TMsgResult::No);
    list_->Delete();
    EXPECT_EQ(tree_->topLevelItemCount(), 2);
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_EQ(boxes_->Asked()[0].text, Str(STR_DELETE_CAMPAIGN));

    boxes_->Clear();
    boxes_->Answer(TMsgResult::Yes);
    list_->Delete();
    EXPECT_EQ(Shown(), QStringList({Str(STR_DELETE_CAMPAIGN), Str(STR_CAMPAIGN_RUNNING)}));
    EXPECT_EQ(tree_->topLevelItemCount(), 2);
    EXPECT_EQ(Row(0)[0], "Busy");
    EXPECT_EQ(Scalar("select count(*) from CAMPAIGNS").AsInteger(), 2);

    Select(1);
    boxes_->Answer(TMsgResult::Yes);
    list_->Delete();
    ASSERT_EQ(tree_->topLevelItemCount(), 1);
    EXPECT_EQ(Row(0)[0], "Busy");
    EXPECT_TRUE(Scalar("select CAMPAIGNS_NAME from CAMPAIGNS where CAMPAIGNS_ID = 702").IsNull());
    EXPECT_EQ(list_->Selected(), nullptr); // nothing left to edit or delete until a row is chosen
    EXPECT_EQ(boxes_->Unexpected(), 0);
}

TEST_F(CampaignListTest, CampaignDeletedElsewhereIsReportedAndLeavesTheListWithNothingStored) {
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
         "CAMPAIGNS_FILE_NAME) values (801, 'Alpha', 0, 0, 'a.3gp')");
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
         "CAMPAIGNS_FILE_NAME) values (802, 'Beta', 1, 0, 'b.vcf')");
    list_->Refresh();
    int opened = 0;
    list_->ShowModalHook = [&](TCampEditor& ed) {
        ++opened;
        ed.accept();
        return ed.result();
    };

    // Gone before Edit: no editor, the row goes.
    Exec("delete from CAMPAIGNS where CAMPAIGNS_ID = 801");
    Select(0);
    list_->Edit();
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(Shown(), QStringList{Str(STR_CAMPAIGN_GONE)});
    ASSERT_EQ(tree_->topLevelItemCount(), 1);
    EXPECT_EQ(Row(0)[0], "Beta");
    EXPECT_EQ(list_->Selected(), nullptr);

    // Gone while its editor is open: OK says so, the editor closes, the row goes.
    list_->ShowModalHook = [&](TCampEditor& ed) {
        Exec("delete from CAMPAIGNS where CAMPAIGNS_ID = 802");
        ed.edCampaignName->setText("Beta 2");
        ed.accept();
        EXPECT_FALSE(ed.IBTransaction->InTransaction());
        return ed.result();
    };
    Select(0);
    list_->Edit();
    EXPECT_EQ(Shown(), QStringList({Str(STR_CAMPAIGN_GONE), Str(STR_CAMPAIGN_GONE)}));
    EXPECT_EQ(tree_->topLevelItemCount(), 0);
    EXPECT_EQ(Scalar("select count(*) from CAMPAIGNS").AsInteger(), 0);
    EXPECT_EQ(boxes_->Unexpected(), 0);
}
