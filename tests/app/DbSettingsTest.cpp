#include "QtTestApp.h"
#include "ScopedEnv.h"
#include "dbsettings.h"
#include "msgbox.h"
#include "translation.h"
#include "vcl/IniFiles.h"
#include "vcl/Registry.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

std::u16string U16(const QString& s) {
    return s.toStdU16String();
}

class DbSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        ASSERT_TRUE(dir_.isValid());
        registry_ = dir_.filePath("registry");
        registryEnv_.Set(registry_.toStdString());
        dataEnv_.Set(dir_.filePath("data").toStdString());
        Translator().SetFileName(dir_.filePath("langs.dat"));
    }
    void TearDown() override { Translator().SetFileName(QString()); }
    void WriteKey(const QString& path, std::initializer_list<std::pair<const char16_t*, const char16_t*>> values) {
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(U16(path), true));
        for (auto& [name, value] : values)
            reg.WriteString(name, value);
    }
    bool SettingsKeyExists() const { return vcl::TRegistry(vcl::HKEY_CURRENT_USER).KeyExists(U16(SettingsKeyPath())); }

    QTemporaryDir dir_;
    QString registry_;
    tavtest::ScopedEnv registryEnv_{"TAVLIN_REGISTRY_DIR"}, dataEnv_{"XDG_DATA_HOME"};
};

} // namespace

TEST_F(DbSettingsTest, KeyPathsAndConnectionSettings) {
    EXPECT_EQ(SettingsKeyPath(), "SOFTWARE\\MorvekTavlin\\Settings");
    EXPECT_EQ(DefaultKeyPath(), "SOFTWARE\\MorvekTavlin\\Default");
    EXPECT_EQ(DefaultDatabasePath(), dir_.filePath("data") + "/Tavlin/Tavlin.fdb");

    // No key: everything empty, so the first connection attempt fails and the user is asked.
    TConnectionSettings none = ReadConnectionSettings();
    EXPECT_FALSE(none.keyFound);
    EXPECT_TRUE(none.DatabaseName().isEmpty());
    EXPECT_FALSE(none.hasLanguage);
    EXPECT_FALSE(SettingsKeyExists()); // reading never creates the key

    WriteKey(SettingsKeyPath(), {{u"UserName", u"SYSDBA"}, {u"Path", u"/srv/tavlin.fdb"}, {u"Server", u""}});
    TConnectionSettings local = ReadConnectionSettings();
    EXPECT_TRUE(local.keyFound);
    EXPECT_EQ(local.userName, "SYSDBA");
    EXPECT_EQ(local.password, "");
    EXPECT_EQ(local.DatabaseName(), "/srv/tavlin.fdb");
    EXPECT_FALSE(local.hasLanguage);

    WriteKey(SettingsKeyPath(), {{u"Server", u"dbhost"}, {u"Language", u"Deutsch"}});
    TConnectionSettings remote = ReadConnectionSettings();
    EXPECT_EQ(remote.DatabaseName(), "dbhost:/srv/tavlin.fdb");
    EXPECT_TRUE(remote.hasLanguage);
    EXPECT_EQ(remote.language, "Deutsch");
    TTranslator t;
    EXPECT_TRUE(t.LoadLanguageName());
    EXPECT_EQ(t.LanguageName(), "Deutsch");
}

TEST_F(DbSettingsTest, DialogLoadsRestoresAndCancelWritesNothing) {
    TMessageBoxScript script;
    {
        TfmDbSettings dlg;
        EXPECT_EQ(dlg.objectName(), "fmDbSettings");
        EXPECT_EQ(dlg.edPath()->text(), DefaultDatabasePath());
        EXPECT_EQ(dlg.edUserName()->text(), "SYSDBA");
        EXPECT_EQ(dlg.edPassword()->text(), "quandorel");
        EXPECT_EQ(dlg.edPassword()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(dlg.edServer()->text(), "");
        // No Default key: the edits stay as they are.
        dlg.edServer()->setText("typed");
        dlg.btRestoreDefault()->click();
        EXPECT_EQ(dlg.edServer()->text(), "typed");
    }

    WriteKey(DefaultKeyPath(), {{u"UserName", u"admin"}, {u"Path", u"/var/lib/tavlin.fdb"}, {u"Server", u"central"}});
    WriteKey(SettingsKeyPath(), {{u"Password", u"  spaced pw "}});
    {
        TfmDbSettings dlg;
        EXPECT_EQ(dlg.edPassword()->text(), "  spaced pw "); // existing values replace the proposals
        EXPECT_EQ(dlg.edUserName()->text(), "SYSDBA");       // absent values keep them
        dlg.show();
        dlg.btRestoreDefault()->click();
        EXPECT_EQ(dlg.edUserName()->text(), "admin");
        EXPECT_EQ(dlg.edPath()->text(), "/var/lib/tavlin.fdb");
        EXPECT_EQ(dlg.edServer()->text(), "central");
        EXPECT_EQ(dlg.edPassword()->text(), "  spaced pw "); // not in the Default key
        dlg.btCancel()->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    TConnectionSettings s = ReadConnectionSettings();
    EXPECT_EQ(s.userName, "");
    EXPECT_EQ(s.path, "");
    EXPECT_TRUE(script.Asked().empty());

    // Shown, the dialog is translated under its own name.
    vcl::TIniFile langs(U16(dir_.filePath("langs.dat")));
    EXPECT_EQ(langs.ReadString(u"English", u"fmDbSettings_Caption", u""), u"Configure Database Settings");
    EXPECT_EQ(langs.ReadString(u"English", u"fmDbSettings_btRestoreDefault", u""), u"Restore default");
    EXPECT_EQ(langs.ReadString(u"English", u"fmDbSettings_laTitle", u""), u"Enter the correct database settings.");
}

TEST_F(DbSettingsTest, OkSavesAndAFailedSaveKeepsTheDialogOpen) {
    TMessageBoxScript script;
    {
        TfmDbSettings dlg;
        dlg.show();
        dlg.edServer()->setText("dbhost");
        dlg.edPath()->setText("/srv/x.fdb");
        dlg.edUserName()->setText("ops");
        dlg.edPassword()->setText("pw");
        dlg.btOK()->click();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_FALSE(dlg.isVisible());
    }
    TConnectionSettings s = ReadConnectionSettings();
    EXPECT_EQ(s.DatabaseName(), "dbhost:/srv/x.fdb");
    EXPECT_EQ(s.userName, "ops");
    EXPECT_EQ(s.password, "pw");
    EXPECT_TRUE(script.Asked().empty());

    // The store's folder cannot be made: the reason is shown and the dialog stays open.
    QFile blocker(dir_.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    registryEnv_.Set(dir_.filePath("blocked/registry").toStdString());
    TfmDbSettings dlg;
    dlg.show();
    dlg.btOK()->click();
    EXPECT_TRUE(dlg.isVisible());
    ASSERT_EQ(script.Asked().size(), 1u);
    EXPECT_EQ(script.Asked()[0].type, TMsgDlgType::Error);
    EXPECT_EQ(script.Asked()[0].title, "Error");
    EXPECT_TRUE(script.Asked()[0].text.contains("HKEY_CURRENT_USER.ini")) << script.Asked()[0].text.toStdString();
    dlg.btCancel()->click();
    EXPECT_FALSE(dlg.isVisible());
}

TEST(MessageBoxScript, AnswersInOrderAndRecords) {
    TMessageBoxScript script;
    script.Answer(TMsgResult::Yes).Answer(TMsgResult::No);
    EXPECT_TRUE(ConfirmYesNo(nullptr, "Delete?"));
    WarningOK(nullptr, "Missing"); // acknowledged without taking the next answer
    EXPECT_FALSE(WarningYesNo(nullptr, "Discard?"));
    EXPECT_FALSE(ConfirmYesNo(nullptr, "Unplanned?")); // empty queue: No
    InformationOK(nullptr, "Restart");
    ASSERT_EQ(script.Asked().size(), 5u);
    EXPECT_EQ(script.Asked()[0].type, TMsgDlgType::Confirmation);
    EXPECT_EQ(script.Asked()[0].title, "Confirm");
    EXPECT_EQ(script.Asked()[1].answer, TMsgResult::OK);
    EXPECT_EQ(script.Asked()[2].title, "Warning");
    EXPECT_EQ(script.Asked()[3].answer, TMsgResult::No);
    EXPECT_EQ(script.Asked()[4].title, "Information");
    EXPECT_EQ(script.Asked()[4].buttons, TMsgButtons::OK);
    EXPECT_EQ(script.Unexpected(), 1);
    EXPECT_EQ(script.Pending(), 0);
}
