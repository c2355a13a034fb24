// The sender settings dialog on the embedded database: what it reads and writes, the
// numeric edits' key filter, the language list, and every way out of it.
#include "EditorTestSupport.h"
#include "ScopedEnv.h"
#include "dbsettings.h"
#include "settings.h"
#include "strings.h"
#include "vcl/Registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace tavlin::test;

namespace {

class SettingsTest : public EditorSuite {
protected:
    void SetUp() override {
        EditorSuite::SetUp();
        registryEnv_.Set(dir_.filePath("registry").toStdString());
    }
    void TearDown() override {
        EditorSuite::TearDown();
        // The suite shares one database: every test starts from the installed row.
        Exec("update SETTINGS set SETTINGS_NAME = 'Tavlin', SETTINGS_MAX_CONN = 7, SETTINGS_MAX_PER_DONGLE = 20, "
             "SETTINGS_SLEEP = 5, SETTINGS_DISC_TIMEOUT = 15, SETTINGS_CONNECT_TIMEOUT = 30, SETTINGS_DELAY = 5, "
             "SETTINGS_BL_TIMEOUT = 24, SETTINGS_REJECT_RETRY = 3, SETTINGS_IGNORE_RETRY = 3, SETTINGS_USE_WL = 0, "
             "SETTINGS_USE_BL = 0");
    }

    // The whole row, in a fixed order, as one text.
    static QString Row() {
        return Text("select SETTINGS_NAME || '|' || SETTINGS_MAX_CONN || '|' || SETTINGS_MAX_PER_DONGLE || '|' || "
                    "SETTINGS_SLEEP || '|' || SETTINGS_DISC_TIMEOUT || '|' || SETTINGS_CONNECT_TIMEOUT || '|' || "
                    "SETTINGS_DELAY || '|' || SETTINGS_BL_TIMEOUT || '|' || SETTINGS_REJECT_RETRY || '|' || "
                    "SETTINGS_IGNORE_RETRY || '|' || SETTINGS_USE_WL || '|' || SETTINGS_USE_BL from SETTINGS");
    }
    static QString StoredLanguage() {
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        if (!reg.OpenKeyReadOnly(SettingsKeyPath().toStdU16String()) || !reg.ValueExists(u"Language"))
            return QStringLiteral("<none>");
        return QString::fromStdU16String(reg.ReadString(u"Language"));
    }
    void WriteLanguages(const QByteArray& content) { WriteFile("langs.dat", content); }
    static QStringList Items(const QComboBox* cb) {
        QStringList items;
        for (int i = 0; i < cb->count(); ++i)
            items << cb->itemText(i);
        return items;
    }
    static std::vector<QLineEdit*> NumericEdits(const TfmSettings& d) {
        return {d.edMaxConnections, d.edMaxPerDongle,     d.edSleep,       d.edDiscoveryTimeout, d.edConnectTimeout,
                d.edSendDelay,      d.edBlackListTimeout, d.edRejectRetry, d.edIgnoreRetry};
    }
    int Errors() const {
        int n = 0;
        for (const TMsgRecord& r : boxes_->Asked())
            n += r.type == TMsgDlgType::Error;
        return n;
    }

    tavtest::ScopedEnv registryEnv_{"TAVLIN_REGISTRY_DIR"};
};

} // namespace

TEST_F(SettingsTest, EveryControlTravelsToItsOwnColumn) {
    Exec("update SETTINGS set SETTINGS_NAME = 'Corner shop', SETTINGS_MAX_CONN = 11, SETTINGS_MAX_PER_DONGLE = 12, "
         "SETTINGS_SLEEP = 13, SETTINGS_DISC_TIMEOUT = 15, SETTINGS_CONNECT_TIMEOUT = 20, SETTINGS_DELAY = 14, "
         "SETTINGS_BL_TIMEOUT = 16, SETTINGS_REJECT_RETRY = 17, SETTINGS_IGNORE_RETRY = 18, SETTINGS_USE_WL = 2, "
         "SETTINGS_USE_BL = 1");
    WriteLanguages("[English]\n[Deutsch]\n");
    Translator().SetLanguageName("Deutsch");

    TfmSettings d(conn_);
    EXPECT_EQ(d.objectName(), "fmSettings");
    EXPECT_EQ(d.windowTitle(), "Application Settings");
    const std::vector<std::pair<QLineEdit*, QString>> shown{
        {d.edLocalName, "Corner shop"}, {d.edMaxConnections, "11"},
        {d.edMaxPerDongle, "12"},       {d.edSleep, "13"},
        {d.edDiscoveryTimeout, "15"},   {d.edConnectTimeout, "20"},
        {d.edSendDelay, "14"},          {d.edBlackListTimeout, "16"},
        {d.edRejectRetry, "17"},        {d.edIgnoreRetry, "18"}};
    for (const auto& [edit, text] : shown)
        EXPECT_EQ(edit->text(), text) << edit->objectName().toStdString();
    EXPECT_FALSE(d.cbUseWhiteList->isChecked()); // 2 is not "on"
    EXPECT_TRUE(d.cbUseBlackList->isChecked());
    EXPECT_EQ(d.cbLanguage->currentText(), "Deutsch");

    // OK without a change writes the same values back, the white list flag as 0, and the language.
    d.show();
    d.btOK->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FALSE(d.isVisible());
    EXPECT_FALSE(d.IBTransaction.InTransaction());
    EXPECT_EQ(Row(), "Corner shop|11|12|13|15|20|14|16|17|18|0|1");
    EXPECT_EQ(StoredLanguage(), "Deutsch");
    EXPECT_TRUE(boxes_->Asked().empty());

    // Each edit lands in its own column, each box in its own flag.
    TfmSettings e(conn_);
    e.edLocalName->setText("Kiosk");
    const char* values[] = {"31", "32", "33", "34", "35", "36", "37", "38", "39"};
    for (size_t i = 0; i < NumericEdits(e).size(); ++i)
        NumericEdits(e)[i]->setText(values[i]);
    e.cbUseWhiteList->setChecked(true);
    e.cbUseBlackList->setChecked(false);
    e.cbLanguage->setCurrentText("English");
    e.show();
    e.btOK->click();
    EXPECT_EQ(e.result(), QDialog::Accepted);
    // name|max conn|per dongle|sleep|discovery|connect|delay|bl timeout|reject|ignore|wl|bl
    EXPECT_EQ(Row(), "Kiosk|31|32|33|34|35|36|37|38|39|1|0");
    EXPECT_EQ(StoredLanguage(), "English");
}

TEST_F(SettingsTest, NumericEditsTakeDigitsOnly) {
    TfmSettings d(conn_);
    for (QLineEdit* edit : NumericEdits(d)) {
        edit->clear();
        QTest::keyClicks(edit, "1a-2 x.3");
        EXPECT_EQ(edit->text(), "123") << edit->objectName().toStdString();
        QTest::keyClick(edit, Qt::Key_Backspace);
        EXPECT_EQ(edit->text(), "12") << edit->objectName().toStdString();
    }
    d.edLocalName->clear();
    QTest::keyClicks(d.edLocalName, "Shop 2");
    EXPECT_EQ(d.edLocalName->text(), "Shop 2");

    // Only ASCII digits are digits here: the database would refuse any other.
    EXPECT_TRUE(TfmSettings::edMaxConnectionsKeyPress(QChar(27)));
    EXPECT_FALSE(TfmSettings::edMaxConnectionsKeyPress(QChar(u'\u0663')));
}

TEST_F(SettingsTest, LanguageListInFileOrderWithFallbacks) {
    // Sections in file order, not sorted; the current one is found whatever its case.
    WriteLanguages("; translators' notes\n[English]\nSTR_USED=Already used\n[Zulu]\n[Deutsch]\nX=1\n");
    Translator().SetLanguageName("deutsch");
    {
        TfmSettings d(conn_);
        EXPECT_EQ(Items(d.cbLanguage), (QStringList{"English", "Zulu", "Deutsch"}));
        EXPECT_EQ(d.cbLanguage->currentText(), "Deutsch");
        EXPECT_FALSE(d.cbLanguage->isEditable());
    }
    // A language that is not in the file: the first section.
    Translator().SetLanguageName("Klingon");
    {
        TfmSettings d(conn_);
        EXPECT_EQ(d.cbLanguage->currentText(), "English");
    }
    // No file, or a file without sections: the current language only.
    QFile::remove(dir_.filePath("langs.dat"));
    {
        TfmSettings d(conn_);
        EXPECT_EQ(Items(d.cbLanguage), QStringList{"Klingon"});
        EXPECT_EQ(d.cbLanguage->currentIndex(), 0);
    }
    WriteLanguages("; nothing yet\n\n");
    {
        TfmSettings d(conn_);
        EXPECT_EQ(Items(d.cbLanguage), QStringList{"Klingon"});
        d.show();
        d.btOK->click();
    }
    EXPECT_EQ(StoredLanguage(), "Klingon");
}

TEST_F(SettingsTest, RestoreDefaultThenCancelKeepsTheRow) {
    Exec("update SETTINGS set SETTINGS_NAME = 'Corner shop', SETTINGS_MAX_CONN = 2, SETTINGS_SLEEP = 9, "
         "SETTINGS_USE_WL = 1");
    const QString before = Row();
    TfmSettings d(conn_);
    d.show();
    d.cbUseBlackList->setChecked(true);
    d.btRestoreDefault->click();
    EXPECT_EQ(d.edLocalName->text(), "Tavlin");
    const QStringList restored{"7", "20", "5", "15", "30", "5", "24", "3", "3"};
    for (size_t i = 0; i < NumericEdits(d).size(); ++i)
        EXPECT_EQ(NumericEdits(d)[i]->text(), restored[int(i)]) << i;
    EXPECT_TRUE(d.cbUseWhiteList->isChecked()); // the boxes stay as they were
    EXPECT_TRUE(d.cbUseBlackList->isChecked());
    EXPECT_EQ(Row(), before); // nothing is written before OK

    // No keeps everything as it was.
    boxes_->Answer(TMsgResult::No);
    d.btCancel->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.edMaxConnections->text(), "7");
    EXPECT_TRUE(d.IBTransaction.InTransaction());
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_EQ(boxes_->Asked()[0].type, TMsgDlgType::Warning);
    EXPECT_EQ(boxes_->Asked()[0].text, QString::fromUtf8(STR_DISCARD_CHANGES.text));

    // Escape asks the same; Yes discards.
    boxes_->Answer(TMsgResult::Yes);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(boxes_->Asked().size(), 2u);
    EXPECT_FALSE(d.IBTransaction.InTransaction());
    EXPECT_EQ(Row(), before);
    EXPECT_EQ(StoredLanguage(), "<none>");
    EXPECT_EQ(boxes_->Unexpected(), 0);
}

TEST_F(SettingsTest, BadValueIsRefusedUntilCorrected) {
    const QString before = Row();
    TfmSettings d(conn_);
    d.show();
    // Empty, beyond a small integer, beyond the column's own range: each refused with its error.
    int errors = 0;
    for (const char* bad : {"", "99999", "300"}) {
        d.edMaxConnections->setText(bad);
        d.btOK->click();
        EXPECT_TRUE(d.isVisible()) << bad;
        EXPECT_EQ(Errors(), ++errors) << bad;
        EXPECT_FALSE(boxes_->Asked().back().text.isEmpty());
        EXPECT_EQ(Row(), before) << bad;
    }
    d.edMaxConnections->setText("9");
    d.btOK->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(Errors(), errors);
    EXPECT_EQ(Row(), "Tavlin|9|20|5|15|30|5|24|3|3|0|0");

    // After a refusal, Cancel still discards.
    TfmSettings c(conn_);
    c.show();
    c.edSleep->setText("0");
    c.btOK->click();
    EXPECT_TRUE(c.isVisible());
    boxes_->Answer(TMsgResult::Yes);
    c.btCancel->click();
    EXPECT_FALSE(c.isVisible());
    EXPECT_FALSE(c.IBTransaction.InTransaction());
    EXPECT_EQ(Row(), "Tavlin|9|20|5|15|30|5|24|3|3|0|0");

    // Without a settings row, OK has nothing to save and says so instead of closing.
    Exec("delete from SETTINGS");
    TfmSettings none(conn_);
    none.show();
    const int shown = Errors();
    none.btOK->click();
    EXPECT_TRUE(none.isVisible());
    EXPECT_EQ(Errors(), shown + 1);
    EXPECT_EQ(Text("select count(*) from SETTINGS"), "0");
    boxes_->Answer(TMsgResult::Yes);
    none.btCancel->click();
    Exec("insert into SETTINGS (SETTINGS_NAME, SETTINGS_MAX_CONN, SETTINGS_MAX_PER_DONGLE, SETTINGS_SLEEP, "
         "SETTINGS_DISC_TIMEOUT, SETTINGS_CONNECT_TIMEOUT, SETTINGS_DELAY, SETTINGS_BL_TIMEOUT, "
         "SETTINGS_REJECT_RETRY, SETTINGS_IGNORE_RETRY, SETTINGS_USE_WL, SETTINGS_USE_BL) "
         "values ('Tavlin', 7, 20, 5, 15, 30, 5, 24, 3, 3, 0, 0)");
}

TEST_F(SettingsTest, ValuesTheRowWouldRefuseAreNamedWithTheirRange) {
    const QString before = Row();
    TfmSettings d(conn_);
    d.show();
    struct Case {
        QLineEdit* edit;
        const char* text;
        const char* caption;
        int min, max;
    };
    const Case cases[] = {{d.edSleep, "99999", "Sleep interval (sec)", 1, 255},
                          {d.edMaxConnections, "", "Max. connections", 1, 255},
                          {d.edSendDelay, "0", "Send delay (sec)", 1, 255},
                          {d.edDiscoveryTimeout, "256", "Discovering timeout (sec)", 0, 255},
                          {d.edIgnoreRetry, "32768", "Ignore retry", 0, 32767}};
    for (const Case& c : cases) {
        const QString kept = c.edit->text();
        c.edit->setText(c.text);
        boxes_->Clear();
        d.btOK->click();
        EXPECT_TRUE(d.isVisible()) << c.caption;
        EXPECT_EQ(Shown(),
                  QStringList{FormatText(QString::fromUtf8(STR_VALUE_RANGE.text), QString(c.caption), c.min, c.max)});
        EXPECT_EQ(Row(), before) << c.caption;
        c.edit->setText(kept);
    }
    // The ends of each range are taken.
    d.edSleep->setText("255");
    d.edDiscoveryTimeout->setText("0");
    d.edRejectRetry->setText("32767");
    boxes_->Clear();
    d.btOK->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(boxes_->Asked().empty());
    EXPECT_EQ(Row(), "Tavlin|7|20|255|0|30|5|24|32767|3|0|0");
}

TEST_F(SettingsTest, ReopenedBeforeARestartTheSavedLanguageIsSelected) {
    WriteLanguages("[English]\n[Deutsch]\n[Zulu]\n");
    Translator().SetLanguageName("English"); // the running language
    {
        TfmSettings d(conn_);
        EXPECT_EQ(d.cbLanguage->currentText(), "English");
        d.cbLanguage->setCurrentText("Deutsch");
        d.show();
        d.btOK->click();
    }
    // Reopened and confirmed, the choice stays.
    {
        TfmSettings d(conn_);
        EXPECT_EQ(d.cbLanguage->currentText(), "Deutsch");
        d.show();
        d.btOK->click();
    }
    EXPECT_EQ(StoredLanguage(), "Deutsch");
    // A saved language the file no longer has gives way to the running one.
    {
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(SettingsKeyPath().toStdU16String(), false));
        reg.WriteString(u"Language", u"Klingon");
        reg.CloseKey();
    }
    TfmSettings d(conn_);
    EXPECT_EQ(d.cbLanguage->currentText(), "English");
}

TEST_F(SettingsTest, LanguageThatCannotBeStoredIsReportedOnceAfterTheRowIsSaved) {
    // The user's registry file cannot be written: its place is taken by a folder.
    ASSERT_TRUE(QDir().mkpath(dir_.filePath("registry/HKEY_CURRENT_USER.ini")));
    TfmSettings d(conn_);
    d.show();
    d.edSleep->setText("8");
    d.btOK->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(Errors(), 1);
    EXPECT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_EQ(Text("select SETTINGS_SLEEP from SETTINGS"), "8");
}
