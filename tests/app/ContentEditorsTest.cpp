// The content of the text and promotion editors, and how the three editors look.
#include "TestImages.h"
#include "EditorTestSupport.h"
#include "ModalSteps.h"
#include "filecamp.h"
#include "jpegcodec.h"
#include "promocamp.h"
#include "strings.h"
#include "sendtodevice.h"
#include "textcamp.h"
#include "vyrvCard.h"
#include "wizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QTest>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

using namespace tavlin::test;

namespace {

class ContentEditorsTest : public EditorSuite {};

using tavtest::Gradient;

// What the file dialog that click opens offers in folder: the names its filter list shows and,
// for each filter it was handed, the files its own view lists. A picture of it goes to shot.
struct TOfferedFiles {
    QStringList names;
    QList<QStringList> perFilter;
};
TOfferedFiles OfferedFiles(const std::function<void()>& click, const QString& folder, const QString& shot) {
    TOfferedFiles offered;
    tavtest::ModalSteps steps;
    steps.Then<QFileDialog>([&](QFileDialog& d) {
        if (auto* types = d.findChild<QComboBox*>("fileTypeCombo"))
            for (int i = 0; i < types->count(); ++i)
                offered.names << types->itemText(i);
        auto* model = d.findChild<QFileSystemModel*>();
        auto* view = d.findChild<QListView*>("listView");
        if (!model || !view) {
            ADD_FAILURE() << "not the widget dialog";
            return d.reject();
        }
        // The model reads folders on a thread of its own and applies a filter on its next turn.
        bool loaded = false;
        int layouts = 0;
        QObject::connect(model, &QFileSystemModel::directoryLoaded, &d, [&] { loaded = true; });
        QObject::connect(model, &QAbstractItemModel::layoutChanged, &d, [&] { ++layouts; });
        d.setDirectory(folder);
        EXPECT_TRUE(QTest::qWaitFor([&] { return loaded; }, 10000));
        auto choose = [&](const QString& filter) {
            const int before = layouts;
            d.selectNameFilter(filter);
            EXPECT_TRUE(QTest::qWaitFor([&] { return layouts > before; }, 10000));
        };
        for (const QString& filter : d.nameFilters()) {
            choose(filter);
            QStringList listed;
            for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
                listed << view->model()->index(r, 0, view->rootIndex()).data().toString();
            listed.sort();
            offered.perFilter << listed;
        }
        choose(d.nameFilters().value(0));
        d.grab().save(shot);
        d.reject();
    });
    click();
    EXPECT_TRUE(steps.Done());
    return offered;
}

// The refusal of a coupon validity, naming the field by its label.
QString ValidityRange() {
    return FormatText(QString::fromUtf8(STR_VALUE_RANGE.text), QStringLiteral("valid in (hours)"), 1, 32767);
}

} // namespace

TEST_F(ContentEditorsTest, TextCardIsStoredAndReadBack) {
    TfmTextCamp ed(conn_);
    EXPECT_EQ(ed.edSendAs->text(), "vcard");
    ed.edPhone->setText("+44 20 7946 0000");
    const QString card = QString::fromUtf8(ed.CardBytes());
    EXPECT_EQ(card.count("TEL"), 1);
    EXPECT_TRUE(card.contains("TEL;PREF;WORK:+44 20 7946 0000\r\n")) << card.toStdString();
    EXPECT_FALSE(card.contains("ORG")) << card.toStdString();
    EXPECT_FALSE(card.contains("NOTE")) << card.toStdString();

    ed.edCampaignName->setText("Card");
    ed.edCompanyName->setText("Morvek Café");
    ed.edURL->setText("http://example.org/");
    ed.edMessage->setText("Buy 2; get 1 free - a long message that certainly needs a soft line break somewhere");
    ed.edSendAs->setText("offer.txt");
    const QByteArray stored = ed.CardBytes();
    ed.accept();
    ASSERT_EQ(ed.result(), QDialog::Accepted);
    const int id = ed.CampaignId;
    EXPECT_EQ(Text("select CAMPAIGNS_FILE_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id)),
              "offer.vcf");
    EXPECT_EQ(Scalar("select CAMPAIGNS_TYPE from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id)).AsInteger(), 1);
    EXPECT_EQ(Blob(id), stored);

    TfmTextCamp back(conn_);
    back.LoadCampaign(id);
    EXPECT_EQ(back.edSendAs->text(), "offer");
    EXPECT_EQ(back.edCompanyName->text(), "Morvek Café");
    EXPECT_EQ(back.edURL->text(), "http://example.org/");
    EXPECT_EQ(back.edPhone->text(), "+44 20 7946 0000");
    EXPECT_EQ(back.edMessage->text(), ed.edMessage->text());
    EXPECT_EQ(back.CardBytes(), stored); // saving again gives the same card

    { // The card's own soft line breaks read back from a list of strings as from a stream.
        TvyrvCard card, again;
        card.LoadFromStream(std::string_view(stored.constData(), static_cast<size_t>(stored.size())));
        TvyrStringList lines;
        card.SaveToStrings(&lines);
        again.LoadFromStrings(&lines);
        ASSERT_EQ(again.Explanatory.Notes.size(), 1u);
        EXPECT_EQ(QString::fromStdString(again.Explanatory.Notes[0]).trimmed(), ed.edMessage->text());
    }
    back.ShowCard("this is no card at all");
    EXPECT_TRUE(back.edCompanyName->text().isEmpty());
    EXPECT_TRUE(back.edMessage->text().isEmpty());
    back.ShowCard(QByteArray());
    EXPECT_TRUE(back.edPhone->text().isEmpty());

    EXPECT_EQ(TextToLines("a\r\nb\nc\r"), QStringList({"a", "b", "c"}));
    EXPECT_EQ(TextToLines("one\r\n"), QStringList{"one"});
    EXPECT_EQ(LinesToText({"a", "b"}), "a\r\nb\r\n");

    back.edSendAs->setText("dir/card.txt");
    back.accept();
    EXPECT_EQ(Shown(), QStringList{QString::fromUtf8(STR_FILE_NAME.text)});
}

TEST_F(ContentEditorsTest, PromotionPreviewFollowsMessageAndCoupon) {
    TfmPromoCamp ed(conn_);
    EXPECT_EQ(ed.imLogo->objectName(), "imLogo");
    EXPECT_EQ(ed.laTextOverImage->objectName(), "laTextOverImage");
    EXPECT_EQ(ed.imLogo->Text(), "COUPON CODE");
    EXPECT_EQ(ed.edSendAs->text(), "promo");
    EXPECT_EQ(ed.edValidIn->text(), "1");
    EXPECT_TRUE(ed.sbMiddle->isChecked());
    EXPECT_TRUE(ed.sbCenter->isChecked());
    EXPECT_EQ(ed.imLogo->TextAlignment(), Qt::AlignHCenter | Qt::AlignVCenter);

    ed.edMessage->setText("Sale");
    EXPECT_EQ(ed.imLogo->Text(), "Sale\r\nCOUPON CODE");
    ed.edValidIn->setText("48");
    ed.cbEnableCoupon->setChecked(false);
    EXPECT_EQ(ed.imLogo->Text(), "Sale");
    EXPECT_TRUE(ed.edValidIn->text().isEmpty());
    EXPECT_FALSE(ed.edValidIn->isEnabled());
    EXPECT_FALSE(ed.laValidIn->isEnabled());
    ed.cbEnableCoupon->setChecked(true);
    EXPECT_EQ(ed.edValidIn->text(), "1");
    EXPECT_TRUE(ed.edValidIn->isEnabled());

    ed.sbLeft->click();
    ed.sbBottom->click();
    EXPECT_TRUE(ed.sbLeft->isChecked());
    EXPECT_FALSE(ed.sbCenter->isChecked());
    EXPECT_EQ(ed.imLogo->TextAlignment(), Qt::AlignLeft | Qt::AlignBottom);

    // A picture that is wider than the frame is fitted whole and centred.
    ed.imLogo->SetPicture(Gradient(240, 100));
    EXPECT_EQ(ed.imLogo->PictureRect(), QRect(0, 50, 120, 50));
}

TEST_F(ContentEditorsTest, PromotionPicturesFontAndSave) {
    TfmPromoCamp ed(conn_);
    ed.edCampaignName->setText("Promo");
    ed.accept(); // no picture yet
    EXPECT_EQ(Shown(), QStringList{QString::fromUtf8(STR_IMAGE.text)});

    // A .png is read as JPEG and fails: the picture stays, the name has already changed.
    const QString png = dir_.filePath("picture.png");
    Gradient(20, 20).save(png, "PNG");
    ChooseFile(png);
    boxes_->Clear();
    ed.sbSelectFileClick();
    EXPECT_EQ(ed.edSendAs->text(), "picture");
    EXPECT_TRUE(ed.imLogo->Picture().isNull());
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_TRUE(boxes_->Asked()[0].text.startsWith("JPEG error #"));

    const QString bmp = dir_.filePath("picture.BmP");
    Gradient(30, 40).save(bmp, "BMP");
    ChooseFile(bmp);
    ed.sbSelectFileClick();
    EXPECT_EQ(ed.imLogo->Picture().size(), QSize(30, 40));

    const QString jpeg = WriteFile("photo.jpeg", EncodeJpeg(Gradient(300, 200)));
    ChooseFile(jpeg);
    ed.sbSelectFileClick();
    EXPECT_EQ(ed.edSendAs->text(), "photo");
    EXPECT_EQ(ed.imLogo->Picture().size(), QSize(300, 200));

    // A confirmed font dialog that leaves the colour keeps the stored system colour.
    TFontDialog::ExecuteHook = [](QWidget*, TPromoFont& f) {
        f.Name = "Verdana";
        f.Size = 14;
        f.Style = PromoStyleBold | PromoStyleUnderline;
        return true;
    };
    ed.sbFont->click();
    EXPECT_EQ(ed.imLogo->Font().Name, "Verdana");
    EXPECT_EQ(ed.imLogo->Font().Color, PromoDefaultFontColor);

    ed.edMessage->setText("Half price");
    ed.sbRight->click();
    ed.sbTop->click();
    ed.cbEnableCoupon->setChecked(false);
    boxes_->Clear();
    ed.accept();
    ASSERT_EQ(ed.result(), QDialog::Accepted) << Shown().join('|').toStdString();
    const std::string where = " from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(ed.CampaignId);
    EXPECT_EQ(Text("select CAMPAIGNS_FILE_NAME" + where), "photo.jpg");
    EXPECT_EQ(Scalar("select CAMPAIGNS_TYPE" + where).AsInteger(), 2);
    EXPECT_EQ(Scalar("select CAMPAIGNS_USE_COUPON" + where).AsInteger(), 0);
    EXPECT_TRUE(Scalar("select CAMPAIGNS_VALID_IN" + where).IsNull());
    EXPECT_EQ(Scalar("select CAMPAIGNS_HALIGN" + where).AsInteger(), 2);
    EXPECT_EQ(Scalar("select CAMPAIGNS_VALIGN" + where).AsInteger(), 0);
    EXPECT_EQ(Scalar("select CAMPAIGNS_FONT_COLOR" + where).AsInteger(), -16777208);
    EXPECT_EQ(Scalar("select CAMPAIGNS_FONT_STYLE" + where).AsInteger(), 5);
    EXPECT_EQ(Scalar("select CAMPAIGNS_FONT_SIZE" + where).AsInteger(), 14);
    EXPECT_EQ(Text("select CAMPAIGNS_MESSAGE" + where), "Half price");
    const QByteArray data = Blob(ed.CampaignId);
    EXPECT_EQ(DecodeJpeg(data).size(), QSize(300, 200));   // full size, not the preview's
    EXPECT_TRUE(data.contains(QByteArray("\xFF\xC0", 2))); // baseline

    // Loading puts the stored positions' buttons down and keeps the held colour.
    Exec("update CAMPAIGNS set CAMPAIGNS_HALIGN = 0, CAMPAIGNS_VALIGN = 2, CAMPAIGNS_USE_COUPON = 1, "
         "CAMPAIGNS_VALID_IN = 12 where CAMPAIGNS_ID = " +
         std::to_string(ed.CampaignId));
    TfmPromoCamp back(conn_);
    back.LoadCampaign(ed.CampaignId);
    EXPECT_TRUE(back.sbLeft->isChecked());
    EXPECT_TRUE(back.sbBottom->isChecked());
    EXPECT_EQ(back.imLogo->TextAlignment(), Qt::AlignLeft | Qt::AlignBottom);
    EXPECT_TRUE(back.cbEnableCoupon->isChecked());
    EXPECT_EQ(back.edValidIn->text(), "12");
    EXPECT_EQ(back.imLogo->Text(), "Half price\r\nCOUPON CODE");
    EXPECT_EQ(back.imLogo->Font().Name, "Verdana");
    EXPECT_EQ(back.imLogo->Font().Color, PromoDefaultFontColor);
    EXPECT_EQ(back.edSendAs->text(), "photo");
    EXPECT_EQ(back.imLogo->Picture().size(), QSize(300, 200));

    // A validity that is no number is refused before the database is asked.
    boxes_->Clear();
    back.edValidIn->setText("soon");
    back.accept();
    EXPECT_EQ(Shown(), QStringList{ValidityRange()});
    EXPECT_EQ(back.result(), QDialog::Rejected);
}

TEST_F(ContentEditorsTest, CouponValidityIsRefusedByNameOutsideOneToTheColumnsMost) {
    TfmPromoCamp ed(conn_);
    ed.show();
    ed.imLogo->SetPicture(Gradient(8, 8));
    const int before = Scalar("select count(*) from CAMPAIGNS").AsInteger();
    // 0 would mark every coupon used at once; 32768 does not fit the column; blanks and signs are no number.
    for (const char* bad : {"0", "32768", "99999", "", " 5", "+5", "-1"}) {
        boxes_->Clear();
        ed.edValidIn->setText(bad);
        ed.btOK->click();
        EXPECT_EQ(Shown(), QStringList{ValidityRange()}) << bad;
        EXPECT_TRUE(ed.isVisible()) << bad;
        EXPECT_EQ(ed.CampaignId, 0);
    }
    EXPECT_EQ(Scalar("select count(*) from CAMPAIGNS").AsInteger(), before);
    ed.edValidIn->setText("32767");
    boxes_->Clear();
    ed.btOK->click();
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_FALSE(ed.isVisible());
    EXPECT_EQ(Scalar("select CAMPAIGNS_VALID_IN from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(ed.CampaignId))
                  .AsInteger(),
              32767);
}

TEST_F(ContentEditorsTest, EditorsRenderOffscreen) {
    const QString out = QStringLiteral(TAVLIN_TEST_FIREBIRD_LOCK "/../editor-%1.png");
    TfmFileCamp file(conn_);
    file.edFileName->setText("clip.3gp");
    file.cbSchedule->setCurrentIndex(1);
    TfmTextCamp text(conn_);
    text.cbSchedule->setCurrentIndex(2);
    TfmPromoCamp promo(conn_);
    promo.imLogo->SetPicture(Gradient(300, 200));
    promo.edMessage->setText("Half price today only");
    for (auto [name, dialog] : {std::pair<const char*, QDialog*>{"file", &file}, {"text", &text}, {"promo", &promo}}) {
        dialog->show();
        const QImage shot = dialog->grab().toImage();
        EXPECT_GE(shot.width(), 514) << name;
        EXPECT_TRUE(shot.save(out.arg(name))) << name;
        dialog->hide();
    }
}

TEST_F(ContentEditorsTest, FileDialogsOfferTheFilesOfEachFilter) {
    QTemporaryDir folder;
    // A folder per dialog: a dialog starts where the last one was, and a folder is read once.
    auto filled = [&folder](const char* place) {
        const QString path = folder.filePath(place);
        QDir().mkpath(path);
        for (const char* name : {"clip.3gp", "photo.jpg", "photo2.jpeg", "logo.bmp", "notes.txt", "readme"}) {
            QFile f(path + "/" + name);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        }
        return path;
    };
    const QString shot = QStringLiteral(TAVLIN_TEST_FIREBIRD_LOCK "/../open-dialog-%1.png");
    const QStringList media{"clip.3gp", "logo.bmp", "notes.txt", "photo.jpg", "photo2.jpeg"};
    const QStringList images{"logo.bmp", "photo.jpg", "photo2.jpeg"};
    const QStringList jpegs{"photo.jpg", "photo2.jpeg"};
    const QList<QStringList> campaignFiles{media,         images, {"clip.3gp"}, {},
                                           {"notes.txt"}, {},     {},           media + QStringList{"readme"}};
    const QList<QStringList> pictures{images, jpegs, {"logo.bmp"}};
    TfmFileCamp file(conn_);
    TfmPromoCamp promo(conn_);
    TfmWizard wizard(conn_);
    TfmSendToDevice send;
    const std::tuple<const char*, QToolButton*, bool> places[] = {{"file", file.sbLoad, true},
                                                                  {"promo", promo.sbSelectFile, false},
                                                                  {"wizard-file", wizard.sbLoad, true},
                                                                  {"wizard-picture", wizard.sbSelectFile, false},
                                                                  {"send", send.sbLoad, true}};
    for (const auto& [place, button, anyFile] : places) {
        const TOfferedFiles offered =
            OfferedFiles([button = button] { button->click(); }, filled(place), shot.arg(place));
        // The names as written, patterns included.
        EXPECT_EQ(offered.names, (anyFile ? CampaignFileDialog() : PromoPictureDialog()).Filters) << place;
        EXPECT_EQ(offered.perFilter, anyFile ? campaignFiles : pictures) << place;
    }
}
