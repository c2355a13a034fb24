// The new-campaign wizard on the embedded database: the page graph, the check boxes as
// radio groups, the checks at Finish, the stored rows of each type, a failing creation
// and Cancel, the campaign list's new row, and how its pages look.
#include "TestImages.h"
#include "EditorTestSupport.h"
#include "campaignlist.h"
#include "jpegcodec.h"
#include "promopicture.h"
#include "promopreview.h"
#include "strings.h"
#include "textcamp.h"
#include "wizard.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>

using namespace tavlin::test;

namespace {

using Page = TfmWizard::TPage;

QString Str(const StrKey& k) {
    return QString::fromUtf8(k.text);
}

using tavtest::Gradient;

class WizardTest : public EditorSuite {
protected:
    static int Count() { return Scalar("select count(*) from CAMPAIGNS").AsInteger(); }
    static std::string Where(int id) { return " from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id); }

    // Chooses the schedule (0..2) and type (0..2) on their pages.
    static void Choose(TfmWizard& w, int schedule, int type) {
        (schedule == 0 ? w.cbContinuous : schedule == 1 ? w.cbDateTime : w.cbDaysOfWeek)->setChecked(true);
        (type == 0 ? w.cbFileBased : type == 1 ? w.cbvCardBased : w.cbPromotion)->setChecked(true);
    }
    // Presses Next until the last page, as the user would; the pages passed on the way.
    static QList<int> WalkToFinish(TfmWizard& w) {
        QList<int> pages;
        for (int guard = 0; guard < 12 && w.PageControl->currentIndex() != Page::pgFinish; ++guard) {
            w.btNext->click();
            pages << w.PageControl->currentIndex();
        }
        return pages;
    }
    // Finish pressed on the last page; true when the wizard closed with OK.
    static bool Finish(TfmWizard& w) {
        WalkToFinish(w);
        w.btNext->click();
        return w.result() == QDialog::Accepted;
    }
};

} // namespace

TEST_F(WizardTest, PageGraphRunsBothWaysForEveryScheduleAndType) {
    const int before = Count();
    for (int schedule = 0; schedule < 3; ++schedule)
        for (int type = 0; type < 3; ++type) {
            SCOPED_TRACE(testing::Message() << "schedule " << schedule << ", type " << type);
            TfmWizard w(conn_);
            EXPECT_EQ(w.PageControl->currentIndex(), Page::pgWelcome);
            EXPECT_FALSE(w.btBack->isEnabled());
            EXPECT_EQ(w.btNext->text(), "&Next >>");
            w.btBack->click(); // nothing before the first page
            EXPECT_EQ(w.PageControl->currentIndex(), Page::pgWelcome);
            Choose(w, schedule, type);

            QList<int> forward{Page::pgParams, Page::pgSchedulingType};
            if (schedule != 0)
                forward << (schedule == 1 ? Page::pgDateTime : Page::pgDaysOfWeek);
            forward << Page::pgType << Page::pgFile + type << Page::pgFinish;
            EXPECT_EQ(WalkToFinish(w), forward);
            EXPECT_TRUE(w.btBack->isEnabled());
            EXPECT_EQ(w.btNext->text(), "&Finish");

            QList<int> backward;
            while (w.PageControl->currentIndex() != Page::pgWelcome && backward.size() < 12) {
                w.btBack->click();
                backward << w.PageControl->currentIndex();
                if (backward.size() == 1) {
                    EXPECT_EQ(w.btNext->text(), "&Next >>");
                }
            }
            QList<int> expected(forward.rbegin() + 1, forward.rend());
            expected << Page::pgWelcome;
            EXPECT_EQ(backward, expected);
            EXPECT_FALSE(w.btBack->isEnabled());
            EXPECT_FALSE(w.IBTransaction->InTransaction()); // no transaction while moving between pages
        }
    EXPECT_EQ(Count(), before);
}

TEST_F(WizardTest, CheckBoxGroupsKeepExactlyOneCheckedAndDatesFollowTheRules) {
    TfmWizard w(conn_);
    w.show();
    auto checked = [](std::initializer_list<QCheckBox*> boxes) {
        QString s;
        for (QCheckBox* b : boxes)
            s += b->isChecked() ? '1' : '0';
        return s;
    };
    const auto schedule = [&] { return checked({w.cbContinuous, w.cbDateTime, w.cbDaysOfWeek}); };
    const auto type = [&] { return checked({w.cbFileBased, w.cbvCardBased, w.cbPromotion}); };
    EXPECT_EQ(schedule(), "100");
    EXPECT_EQ(type(), "100");

    QTest::mouseClick(w.cbDateTime, Qt::LeftButton); // by hand (the page need not be shown for a click)
    EXPECT_EQ(schedule(), "010");
    w.cbDaysOfWeek->setChecked(true); // by the program: the same rule
    EXPECT_EQ(schedule(), "001");
    w.cbDaysOfWeek->click(); // unchecking the only checked box checks the first
    EXPECT_EQ(schedule(), "100");
    w.cbContinuous->click(); // and the first cannot be unchecked
    EXPECT_EQ(schedule(), "100");
    w.cbContinuous->setChecked(false);
    EXPECT_EQ(schedule(), "100");

    w.cbPromotion->click();
    EXPECT_EQ(type(), "001");
    w.cbvCardBased->setChecked(true);
    EXPECT_EQ(type(), "010");
    w.cbvCardBased->setChecked(false);
    EXPECT_EQ(type(), "100");
    EXPECT_FALSE(w.cbEnabled->isChecked());
    EXPECT_TRUE(w.edName->text().isEmpty());

    // Defaults from the fixed clock, 15.03.2024 23:30:20: the weekday end wraps past midnight.
    EXPECT_EQ(w.dtpStartDate->date(), QDate(2024, 3, 15));
    EXPECT_EQ(w.dtpEndDate->date(), QDate(2024, 3, 16));
    EXPECT_EQ(w.dtpStartTime->time(), QTime(23, 30, 20));
    EXPECT_EQ(w.dtpEndTime->time(), QTime(23, 30, 20));
    EXPECT_EQ(w.dtpStart->time(), QTime(23, 30, 20));
    EXPECT_EQ(w.dtpEnd->time(), QTime(0, 30, 20));
    // Edits: the end never lies before the start; only the end moves.
    w.dtpEndTime->setTime(QTime(8, 0));
    w.dtpEndDate->setDate(QDate(2024, 3, 14));
    EXPECT_EQ(w.dtpEndDate->date(), QDate(2024, 3, 15));
    EXPECT_EQ(w.dtpEndTime->time(), QTime(23, 30, 20));
    w.dtpStart->setTime(QTime(9, 0));
    EXPECT_EQ(w.dtpEnd->time(), QTime(9, 0));
    w.dtpEnd->setTime(QTime(8, 0));
    EXPECT_EQ(w.dtpEnd->time(), QTime(9, 0));
}

TEST_F(WizardTest, FinishChecksInOrderAndLeavesTheDatabaseAlone) {
    const int before = Count();
    TfmWizard w(conn_);
    w.show();
    auto finishFails = [&](int page, const StrKey& message) {
        boxes_->Clear();
        EXPECT_FALSE(Finish(w));
        EXPECT_EQ(Shown(), QStringList{Str(message)});
        EXPECT_EQ(boxes_->Asked().back().type, TMsgDlgType::Error);
        EXPECT_EQ(w.PageControl->currentIndex(), page);
        EXPECT_EQ(w.btNext->text(), "&Next >>");
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.IBTransaction->InTransaction());
        EXPECT_EQ(w.CampaignId, 0);
        EXPECT_EQ(Count(), before);
    };
    // The name comes first, even with the content missing too.
    w.edFileName->clear();
    finishFails(Page::pgParams, STR_CAMPAIGN_NAME);
    w.edName->setText("Spring");
    // Then the chosen type's file name: empty, or anything but a plain file name.
    finishFails(Page::pgFile, STR_FILE_NAME);
    for (const char* bad : {"../offer.3gp", "c:offer.3gp"}) {
        w.edFileName->setText(bad);
        finishFails(Page::pgFile, STR_FILE_NAME);
    }
    w.cbvCardBased->setChecked(true);
    w.edSendAs->clear();
    finishFails(Page::pgText, STR_FILE_NAME);
    w.edSendAs->setText("up/card");
    finishFails(Page::pgText, STR_FILE_NAME);
    w.cbPromotion->setChecked(true);
    w.edPromoSendAs->clear();
    finishFails(Page::pgPromo, STR_FILE_NAME);
    // Then the picture.
    w.edPromoSendAs->setText("promo");
    finishFails(Page::pgPromo, STR_IMAGE);

    // A chosen file gone before Finish: its own error, the wizard stays on the last page
    // with Finish, and no transaction is left open.
    w.cbFileBased->setChecked(true);
    ChooseFile(WriteFile("gone.3gp", "x"));
    w.sbLoadClick();
    EXPECT_EQ(w.edFileName->text(), "gone.3gp");
    QFile::remove(w.FilePath);
    boxes_->Clear();
    EXPECT_FALSE(Finish(w));
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_TRUE(boxes_->Asked()[0].text.contains("gone.3gp")) << boxes_->Asked()[0].text.toStdString();
    EXPECT_EQ(w.PageControl->currentIndex(), Page::pgFinish);
    EXPECT_EQ(w.btNext->text(), "&Finish");
    EXPECT_FALSE(w.IBTransaction->InTransaction());
    EXPECT_EQ(Count(), before);
    EXPECT_EQ(boxes_->Unexpected(), 0);
}

TEST_F(WizardTest, StoresEachTypeWithItsContentScheduleAndFont) {
    // A file campaign, days of week with no day chosen, under a name typed over the file's.
    QByteArray clip("3gp\0\x01\xFF clip", 12);
    clip += QByteArray(70000, '\x5A'); // more than one blob segment
    {
        TfmWizard w(conn_);
        ChooseFile(WriteFile("clip.3gp", clip));
        w.sbLoadClick();
        EXPECT_EQ(w.edFileName->text(), "clip.3gp");
        w.edFileName->setText("offer.3gp");
        w.edName->setText("File");
        Choose(w, 2, 0);
        w.dtpStart->setTime(QTime(8, 0));
        w.dtpEnd->setTime(QTime(18, 0));
        ASSERT_TRUE(Finish(w)) << Shown().join('|').toStdString();
        const std::string where = Where(w.CampaignId);
        EXPECT_EQ(Blob(w.CampaignId), clip);
        EXPECT_EQ(Text("select CAMPAIGNS_FILE_NAME" + where), "offer.3gp");
        EXPECT_EQ(Scalar("select CAMPAIGNS_TYPE" + where).AsInteger(), 0);
        EXPECT_EQ(Scalar("select CAMPAIGNS_SCHEDULE" + where).AsInteger(), 2);
        EXPECT_EQ(Scalar("select CAMPAIGNS_ENABLED" + where).AsInteger(), 0);
        EXPECT_EQ(Text("select CAMPAIGNS_DAYS_MON || CAMPAIGNS_DAYS_TUE || CAMPAIGNS_DAYS_WED || CAMPAIGNS_DAYS_THU || "
                       "CAMPAIGNS_DAYS_FRI || CAMPAIGNS_DAYS_SAT || CAMPAIGNS_DAYS_SUN" +
                       where),
                  "0000000");
        EXPECT_EQ(Text("select CAMPAIGNS_START_TIME" + where), "08:00:00");
        EXPECT_EQ(Text("select CAMPAIGNS_END_TIME" + where), "18:00:00");
        EXPECT_EQ(Text("select CAMPAIGNS_FONT_NAME" + where), "Tahoma");
        EXPECT_EQ(Scalar("select CAMPAIGNS_FONT_SIZE" + where).AsInteger(), 9);
        EXPECT_EQ(Scalar("select CAMPAIGNS_FONT_COLOR" + where).AsInteger(), -16777208);
        for (const char* column : {"CAMPAIGNS_VALIGN", "CAMPAIGNS_HALIGN", "CAMPAIGNS_USE_COUPON", "CAMPAIGNS_MESSAGE",
                                   "CAMPAIGNS_VALID_IN"})
            EXPECT_TRUE(Scalar(std::string("select ") + column + where).IsNull()) << column;
    }
    // A vCard campaign on dates, enabled.
    {
        TfmWizard w(conn_);
        w.edName->setText("Card");
        w.cbEnabled->setChecked(true);
        Choose(w, 1, 1);
        w.dtpStartDate->setDate(QDate(2024, 4, 1));
        w.dtpEndDate->setDate(QDate(2024, 4, 30));
        w.dtpStartTime->setTime(QTime(9, 0));
        w.dtpEndTime->setTime(QTime(17, 30));
        w.edCompanyName->setText("Morvek");
        w.edPhone->setText("+44 20 7946 0000");
        w.edMessage->setText("Buy 2; get 1");
        w.edSendAs->setText("offer.txt");
        ASSERT_TRUE(Finish(w)) << Shown().join('|').toStdString();
        const std::string where = Where(w.CampaignId);
        EXPECT_EQ(Text("select CAMPAIGNS_FILE_NAME" + where), "offer.vcf");
        const QByteArray card = Blob(w.CampaignId);
        EXPECT_EQ(card, CampaignCard("Morvek", "", "+44 20 7946 0000", "Buy 2; get 1"));
        EXPECT_TRUE(card.contains("TEL;PREF;WORK:+44 20 7946 0000\r\n")) << card.toStdString();
        EXPECT_EQ(Scalar("select CAMPAIGNS_TYPE" + where).AsInteger(), 1);
        EXPECT_EQ(Scalar("select CAMPAIGNS_SCHEDULE" + where).AsInteger(), 1);
        EXPECT_EQ(Scalar("select CAMPAIGNS_ENABLED" + where).AsInteger(), 1);
        EXPECT_EQ(Text("select CAMPAIGNS_END_DATE" + where), "2024-04-30");
        EXPECT_EQ(Text("select CAMPAIGNS_END_TIME" + where), "17:30:00");
        EXPECT_EQ(Text("select CAMPAIGNS_FONT_NAME" + where), "Tahoma");
        EXPECT_TRUE(Scalar("select CAMPAIGNS_USE_COUPON" + where).IsNull());
    }
    // A promotion: the picture's name goes to its own send-as edit, not the card's.
    {
        TfmWizard w(conn_);
        w.edName->setText("Promo");
        Choose(w, 0, 2);
        ChooseFile(WriteFile("photo.jpeg", EncodeJpeg(Gradient(300, 200))));
        w.sbSelectFileClick();
        EXPECT_EQ(w.edPromoSendAs->text(), "photo");
        EXPECT_EQ(w.edSendAs->text(), "vcard");
        EXPECT_EQ(w.imLogo->Text(), "COUPON CODE");
        w.edPromoMsg->setText("Half price");
        EXPECT_EQ(w.imLogo->Text(), "Half price\r\nCOUPON CODE");
        w.edValidIn->setText("24");
        w.sbLeft->click();
        w.sbBottom->click();
        EXPECT_EQ(w.imLogo->TextAlignment(), Qt::AlignLeft | Qt::AlignBottom);
        TFontDialog::ExecuteHook = [](QWidget*, TPromoFont& f) {
            f.Size = 14;
            f.Style = PromoStyleBold;
            return true;
        };
        w.sbFont->click();
        ASSERT_TRUE(Finish(w)) << Shown().join('|').toStdString();
        const std::string where = Where(w.CampaignId);
        EXPECT_EQ(Text("select CAMPAIGNS_FILE_NAME" + where), "photo.jpg");
        EXPECT_EQ(Scalar("select CAMPAIGNS_TYPE" + where).AsInteger(), 2);
        EXPECT_EQ(Scalar("select CAMPAIGNS_USE_COUPON" + where).AsInteger(), 1);
        EXPECT_EQ(Scalar("select CAMPAIGNS_VALID_IN" + where).AsInteger(), 24);
        EXPECT_EQ(Scalar("select CAMPAIGNS_VALIGN" + where).AsInteger(), 2);
        EXPECT_EQ(Scalar("select CAMPAIGNS_HALIGN" + where).AsInteger(), 0);
        EXPECT_EQ(Scalar("select CAMPAIGNS_FONT_SIZE" + where).AsInteger(), 14);
        EXPECT_EQ(Scalar("select CAMPAIGNS_FONT_STYLE" + where).AsInteger(), 1);
        EXPECT_EQ(Text("select CAMPAIGNS_MESSAGE" + where), "Half price");
        const QByteArray jpeg = Blob(w.CampaignId);
        EXPECT_EQ(DecodeJpeg(jpeg).size(), QSize(300, 200));   // the whole picture, not the preview
        EXPECT_TRUE(jpeg.contains(QByteArray("\xFF\xC0", 2))); // baseline
        TPromoText text;
        text.Message = "Half price";
        text.Coupon = CouponText(0x1A2B);
        EXPECT_EQ(DecodeJpeg(RenderPromoPicture(jpeg, text)).size(), QSize(PromoWidth, PromoHeight));
    }
    EXPECT_EQ(boxes_->Unexpected(), 0);
}

TEST_F(WizardTest, RefusedCreationKeepsTheWizardAndCancelWritesNothing) {
    const int before = Count();
    {
        RefuseCampaignName("Refused");
        TfmWizard w(conn_);
        w.show();
        w.edName->setText("Refused");
        Choose(w, 0, 1);
        EXPECT_FALSE(Finish(w));
        EXPECT_EQ(Shown(), QStringList{Str(STR_UNABLE_ADD_CMPAIGN)});
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.PageControl->currentIndex(), Page::pgFinish);
        EXPECT_EQ(w.btNext->text(), "&Finish");
        EXPECT_EQ(w.CampaignId, 0);
        EXPECT_FALSE(w.IBTransaction->InTransaction());
        EXPECT_EQ(Count(), before);
        // A validity of 0 (every coupon used at once), beyond the column or no number is refused
        // before the database, by the field's name, on the promotion page.
        w.edName->setText("Retry");
        w.cbPromotion->setChecked(true);
        w.imLogo->SetPicture(Gradient(8, 8));
        for (const char* bad : {"0", "32768", "soon"}) {
            w.edValidIn->setText(bad);
            boxes_->Clear();
            EXPECT_FALSE(Finish(w));
            EXPECT_EQ(Shown(),
                      QStringList{FormatText(Str(STR_VALUE_RANGE), QStringLiteral("valid in (hours)"), 1, 32767)})
                << bad;
            EXPECT_EQ(w.PageControl->currentIndex(), Page::pgPromo);
            EXPECT_EQ(w.btNext->text(), "&Next >>");
            EXPECT_FALSE(w.IBTransaction->InTransaction());
            EXPECT_EQ(Count(), before);
        }
        // Corrected, Finish again stores exactly one campaign.
        w.edValidIn->setText("2");
        boxes_->Clear();
        WalkToFinish(w);
        w.btNext->click();
        EXPECT_EQ(w.result(), QDialog::Accepted);
        EXPECT_FALSE(w.isVisible());
        EXPECT_TRUE(Shown().isEmpty());
        EXPECT_EQ(Count(), before + 1);
        EXPECT_EQ(Text("select CAMPAIGNS_NAME" + Where(w.CampaignId)), "Retry");
        EXPECT_FALSE(w.IBTransaction->InTransaction());
    }
    // Cancel and Esc close at once without a question, on any page.
    for (bool escape : {false, true}) {
        TfmWizard w(conn_);
        w.show();
        w.edName->setText("Never");
        w.btNext->click();
        w.btNext->click();
        if (escape)
            QTest::keyClick(&w, Qt::Key_Escape);
        else
            w.btCancel->click();
        EXPECT_EQ(w.result(), QDialog::Rejected);
        EXPECT_FALSE(w.isVisible());
    }
    EXPECT_EQ(Count(), before + 1);
    EXPECT_EQ(boxes_->Unexpected(), 0);
    EXPECT_EQ(boxes_->Asked().size(), 0u);
}

TEST_F(WizardTest, CampaignListAppendsTheWizardsCampaign) {
    QTreeWidget tree;
    tree.setColumnCount(4);
    TCampaignList list(&tree, conn_, tr_, nullptr);
    list.ShowWizardHook = [this](TfmWizard& w) {
        w.edName->setText("Weekly card");
        w.cbEnabled->setChecked(true);
        w.cbDaysOfWeek->setChecked(true);
        w.cbvCardBased->setChecked(true);
        Finish(w);
        return w.result();
    };
    list.AddWizard();
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* row = tree.topLevelItem(0);
    EXPECT_EQ(QStringList({row->text(0), row->text(1), row->text(2), row->text(3)}),
              QStringList({"Weekly card", "Text", "Days of week", "Yes"}));
    EXPECT_EQ(Text("select CAMPAIGNS_NAME" + Where(TCampaignList::RowId(row))), "Weekly card");

    list.ShowWizardHook = [](TfmWizard& w) {
        w.reject();
        return w.result();
    };
    list.AddWizard();
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(boxes_->Unexpected(), 0);
}

TEST_F(WizardTest, RendersEveryPage) {
    TfmWizard w(conn_);
    EXPECT_EQ(w.windowTitle(), "Create New Campaign Wizard");
    EXPECT_EQ(w.objectName(), "fmWizard");
    EXPECT_EQ(w.PageControl->count(), 10);
    EXPECT_EQ(w.laTextOverImage->objectName(), "laTextOverImage");
    w.show();
    EXPECT_EQ(w.size(), QSize(538, 427));
    w.imLogo->SetPicture(Gradient(300, 200));
    w.edPromoMsg->setText("Half price today");
    const QString dir = QCoreApplication::applicationDirPath() + "/../screenshots";
    QDir().mkpath(dir);
    for (int page = 0; page < w.PageControl->count(); ++page) {
        w.PageControl->setCurrentIndex(page);
        // Every page's contents fit its area: nothing squeezed below its smallest size.
        QWidget* shown = w.PageControl->currentWidget();
        EXPECT_GE(shown->height(), shown->minimumSizeHint().height()) << page;
        EXPECT_TRUE(w.grab().save(QStringLiteral("%1/wizard-%2.png").arg(dir).arg(page)));
    }
}
