#include "QtTestApp.h"
#include "strings.h"
#include "translation.h"
#include "vcl/IniFiles.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <set>

namespace {

class TranslationTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        ASSERT_TRUE(dir_.isValid());
        file_ = dir_.filePath("langs.dat");
        Translator().SetFileName(file_);
        Translator().SetLanguageName("English");
    }
    void TearDown() override {
        Translator().SetFileName(QString());
        Translator().SetLanguageName(QString());
    }
    QString Stored(const QString& section, const QString& key, const QString& def = "<none>") const {
        vcl::TIniFile ini(file_.toStdU16String());
        return QString::fromStdU16String(
            ini.ReadString(section.toStdU16String(), key.toStdU16String(), def.toStdU16String()));
    }
    void Store(const QString& section, const QString& key, const QString& value) const {
        vcl::TIniFile ini(file_.toStdU16String());
        ini.WriteString(section.toStdU16String(), key.toStdU16String(), value.toStdU16String());
    }
    QStringList Keys(const QString& section) const {
        QStringList r;
        for (const auto& k : vcl::TIniFile(file_.toStdU16String()).ReadSection(section.toStdU16String()))
            r << QString::fromStdU16String(k);
        return r;
    }

    QTemporaryDir dir_;
    QString file_;
};

} // namespace

TEST_F(TranslationTest, TextLookupFillsTheFileAndKeepsTranslations) {
    EXPECT_FALSE(QFile::exists(file_));
    // Missing: the built-in text, written back (the file is created).
    EXPECT_EQ(TranslateText(STR_STATUS_OK), "Success");
    EXPECT_EQ(Stored("English", "STR_STATUS_OK"), "Success");

    // A translator's text wins; an emptied key gets the built-in text again.
    Store("Deutsch", "STR_STATUS_OK", "Erfolg");
    Store("Deutsch", "STR_STOPPED", "");
    Translator().SetLanguageName("deutsch");
    EXPECT_EQ(TranslateText(STR_STATUS_OK), "Erfolg");
    EXPECT_EQ(TranslateText(STR_STOPPED), "Stopped");
    EXPECT_EQ(Stored("Deutsch", "STR_STOPPED"), "Stopped");
    EXPECT_EQ(Stored("Deutsch", "STR_STATUS_OK"), "Erfolg");
    EXPECT_EQ(TranslateText("", "as is"), "as is");

    // Texts with blanks or quotes at their ends come back exactly as built in.
    Translator().SetLanguageName("English");
    EXPECT_EQ(TranslateText("laTitleKey", "Accepted devices for campaign "), "Accepted devices for campaign ");
    EXPECT_EQ(TranslateText("laTitleKey", "changed"), "Accepted devices for campaign ");
    EXPECT_EQ(TranslateText("quotedKey", "'quoted'"), "'quoted'");
    EXPECT_EQ(TranslateText("quotedKey", "x"), "'quoted'");

    // A new, empty language section fills with every key met.
    Store("Русский", "STR_TEXT", "Текст");
    Translator().SetLanguageName("Русский");
    for (const StrKey& k : AllStrKeys())
        TranslateText(k);
    EXPECT_EQ(Keys("Русский").size(), STR_KEY_COUNT);
    EXPECT_EQ(TranslateText(STR_TEXT), "Текст");
    EXPECT_EQ(Translator().Languages(), (QStringList{"English", "Deutsch", "Русский"}));

    // An empty language name keeps the default section.
    Translator().SetLanguageName("  ");
    EXPECT_EQ(Translator().LanguageName(), "English");
}

TEST_F(TranslationTest, UnwritableFileStillGivesTheBuiltInTexts) {
    QFile blocker(dir_.filePath("plain"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Translator().SetFileName(dir_.filePath("plain/langs.dat"));
    EXPECT_EQ(TranslateText(STR_SENDER_STOPPED), "Sender is stopped");
    QWidget form;
    form.setObjectName("fmTest");
    form.setWindowTitle("Title");
    TranslateForm(&form);
    EXPECT_EQ(form.windowTitle(), "Title");
}

TEST_F(TranslationTest, TranslatedFormatsCannotMisbehave) {
    Store("English", "STR_UNABLE_CONNECT", "%s%s%n%d%x%p %");
    QString text = TranslateText(STR_UNABLE_CONNECT);
    EXPECT_EQ(FormatText(text, QString("Timeout.")), "Timeout.%s%n%d%x%p %");
    EXPECT_EQ(FormatText(TranslateText(STR_PROCESSING_CAMPAIGN), QString("Spring %d %s")),
              "Sending campaign Spring %d %s");
    EXPECT_EQ(FormatText(QString("%d of %s"), 3, QString("x")), "3 of x");
}

TEST_F(TranslationTest, FormKeysFollowComponentNames) {
    QMainWindow form;
    form.setObjectName("fmMain");
    form.setWindowTitle("Main");
    auto* acStart = new QAction("&Start", &form);
    acStart->setObjectName("acSenderStart");
    acStart->setStatusTip("Start sending");
    auto* acAdd = new QAction("&File campaign", &form);
    acAdd->setObjectName("acCampAddFile");
    auto* acAbout = new QAction("&About", &form);
    acAbout->setObjectName("acHelpAbout");

    QMenuBar* bar = form.menuBar();
    QMenu* mSender = bar->addMenu("&Sender");
    mSender->setObjectName("miSender");
    mSender->addAction(acStart);
    mSender->addSeparator();
    QMenu* mCamp = bar->addMenu("C&ampaigns");
    QMenu* mAdd = mCamp->addMenu("&Add");
    mAdd->addAction(acAdd);
    QMenu* mHelp = bar->addMenu("&Help");
    mHelp->addAction(acAbout);

    // A pop-up menu's own sub-menu keeps its text.
    auto* popup = new QMenu(&form);
    popup->setObjectName("PopupMenu");
    QMenu* popAdd = popup->addMenu("Add");
    popAdd->setObjectName("miPopupAdd");
    popAdd->addAction(acAdd);

    auto* central = new QWidget(&form);
    form.setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);
    auto* lv = new QTreeWidget;
    lv->setObjectName("lvCampaigns");
    lv->setHeaderLabels({"Name", "Type", "Schedule", "Enabled"});
    auto* cbLanguage = new QComboBox;
    cbLanguage->setObjectName("cbLanguage");
    cbLanguage->addItems({"English", "Deutsch"});
    auto* cbMode = new QComboBox;
    cbMode->setObjectName("cbMode");
    cbMode->addItems({"Left", "Right"});
    auto* btGo = new QPushButton("&Go");
    btGo->setObjectName("btGo");
    btGo->setToolTip("Go now");
    auto* laTitle = new QLabel("Title:");
    laTitle->setObjectName("laTitle");
    auto* laEmpty = new QLabel;
    laEmpty->setObjectName("laEmpty");
    auto* cbFlag = new QCheckBox("Enabled");
    cbFlag->setObjectName("cbFlag");
    auto* pages = new QTabWidget;
    pages->setObjectName("PageControl");
    auto* sheet = new QWidget;
    sheet->setObjectName("tsGeneral");
    pages->addTab(sheet, "General");
    for (QWidget* w : std::initializer_list<QWidget*>{lv, cbLanguage, cbMode, btGo, laTitle, laEmpty, cbFlag, pages})
        layout->addWidget(w);

    TranslateForm(&form);
    QStringList keys = Keys("English");
    std::set<QString> got(keys.begin(), keys.end());
    std::set<QString> expected{"fmMain_Caption",
                               "fmMain_ActionManager_0",
                               "fmMain_ActionManager_1",
                               "fmMain_ActionManager_2",
                               "fmMain_ActionManager_3",
                               "fmMain_acSenderStart",
                               "fmMain_acSenderStart_Hint",
                               "fmMain_acCampAddFile",
                               "fmMain_acCampAddFile_Hint",
                               "fmMain_acHelpAbout",
                               "fmMain_acHelpAbout_Hint",
                               "fmMain_lvCampaigns_0",
                               "fmMain_lvCampaigns_1",
                               "fmMain_lvCampaigns_2",
                               "fmMain_lvCampaigns_3",
                               "fmMain_cbMode_0",
                               "fmMain_cbMode_1",
                               "fmMain_btGo",
                               "fmMain_btGo_Hint",
                               "fmMain_laTitle",
                               "fmMain_cbFlag"};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(keys.size(), static_cast<int>(got.size())); // nothing written twice
    // Pre-order numbering: the sub-menu "&Add" comes between "C&ampaigns" and "&Help".
    EXPECT_EQ(Stored("English", "fmMain_ActionManager_2"), "&Add");
    EXPECT_EQ(Stored("English", "fmMain_ActionManager_3"), "&Help");
    EXPECT_EQ(Stored("English", "fmMain_acSenderStart_Hint"), "Start sending");

    // Translations are applied to every kind of part.
    Store("English", "fmMain_Caption", "Haupt");
    Store("English", "fmMain_ActionManager_2", "&Neu");
    Store("English", "fmMain_acSenderStart", "&Starten");
    Store("English", "fmMain_acSenderStart_Hint", "Senden starten");
    Store("English", "fmMain_lvCampaigns_1", "Art");
    Store("English", "fmMain_cbMode_1", "Rechts");
    Store("English", "fmMain_btGo_Hint", "Jetzt");
    Store("English", "fmMain_laTitle", "Titel:");
    Store("English", "fmMain_cbLanguage_0", "Englisch");
    TranslateForm(&form);
    EXPECT_EQ(form.windowTitle(), "Haupt");
    EXPECT_EQ(mAdd->title(), "&Neu");
    EXPECT_EQ(acStart->text(), "&Starten");
    EXPECT_EQ(acStart->statusTip(), "Senden starten");
    EXPECT_EQ(acStart->toolTip(), "Senden starten");
    EXPECT_EQ(lv->headerItem()->text(1), "Art");
    EXPECT_EQ(cbMode->itemText(1), "Rechts");
    EXPECT_EQ(btGo->toolTip(), "Jetzt");
    EXPECT_EQ(laTitle->text(), "Titel:");
    EXPECT_EQ(cbLanguage->itemText(0), "English");
    EXPECT_EQ(popAdd->title(), "Add");
    EXPECT_EQ(pages->tabText(0), "General");
}

TEST(Strings, KeysAndYesNo) {
    std::set<std::string> keys;
    for (const StrKey& k : AllStrKeys()) {
        EXPECT_EQ(std::string(k.key).rfind("STR_", 0), 0u) << k.key;
        EXPECT_STRNE(k.text, "") << k.key;
        keys.insert(k.key);
    }
    EXPECT_EQ(keys.size(), STR_KEY_COUNT);
    EXPECT_EQ(keys.size(), 69u);
    EXPECT_STREQ(STR_CAMPAING_NAME.text, "Campaign name");
    EXPECT_STREQ(STR_CAMPAIGN_NAME.text, "You must provide a valid campaign name.");

    EXPECT_EQ(BoolToYesNo(true), "Yes");
    EXPECT_EQ(BoolToYesNo(false), "No");
    EXPECT_TRUE(YesNoToBool("Yes"));
    EXPECT_FALSE(YesNoToBool("yes"));
    EXPECT_FALSE(YesNoToBool("No"));
    EXPECT_FALSE(YesNoToBool(""));
}

TEST_F(TranslationTest, RepeatedLookupsFollowEditsOfTheFile) {
    Store("English", "STR_STATUS_OK", "Done");
    EXPECT_EQ(TranslateText(STR_STATUS_OK), "Done");
    EXPECT_EQ(TranslateText(STR_STATUS_OK), "Done");
    // An edit of the same length, a new key, a removed file: each is seen by the next lookup.
    Store("English", "STR_STATUS_OK", "Fine");
    EXPECT_EQ(TranslateText(STR_STATUS_OK), "Fine");
    Store("English", "STR_STOPPED", "Halted");
    EXPECT_EQ(TranslateText(STR_STOPPED), "Halted");
    ASSERT_TRUE(QFile::remove(file_));
    EXPECT_EQ(TranslateText(STR_STATUS_OK), "Success");
    EXPECT_EQ(Stored("English", "STR_STATUS_OK"), "Success");
    // Another file or language is not answered from what was read before.
    Store("Deutsch", "STR_STATUS_OK", "Erfolg");
    Translator().SetLanguageName("Deutsch");
    EXPECT_EQ(TranslateText(STR_STATUS_OK), "Erfolg");
    QTemporaryDir other;
    Translator().SetFileName(other.filePath("langs.dat"));
    EXPECT_EQ(TranslateText(STR_STATUS_OK), "Success");
}
