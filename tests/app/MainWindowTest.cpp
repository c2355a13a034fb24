// The main window shell: start-up with and without a database, work folders, enabling
// rules, the close question, teardown order, report titles, help, and a rendered picture.
#include "AirPhones.h"
#include "StationSettings.h"
#include "StationHome.h"
#include "QtTestApp.h"
#include "ScopedEnv.h"
#include "TestDatabase.h"
#include "campeditor.h"
#include "dbsettings.h"
#include "entry.h"
#include "main.h"
#include "msgbox.h"
#include "splash.h"
#include "translation.h"
#include "wizard.h"
#include "ibx/IBScript.h"
#include "vcl/IniFiles.h"
#include "vcl/Registry.h"
#include "sim/air/Air.h"
#include "qt/MessageBridge.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

#include <deque>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void WriteSettings(const QString& path, const QString& server = {}, const QString& language = {}) {
    ASSERT_TRUE(tavtest::WriteDbSettings(path, server, language));
}

void DeleteSettings() {
    vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
    reg.DeleteKey(SettingsKeyPath().toStdU16String());
}

// Acts on the next modal database-settings dialog once it is up.
void OnDbSettingsDialog(std::function<void(TfmDbSettings&)> act) {
    QTimer::singleShot(0, [act] {
        auto* dlg = qobject_cast<TfmDbSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        act(*dlg);
    });
}

// Attaches a radio of each given stack kind (0 BlueSoleil, 1 Microsoft, 2 Toshiba, 3 WidComm)
// to the air while it lives.
class PresentStacks {
public:
    explicit PresentStacks(std::initializer_list<int> kinds) {
        for (int k : kinds)
            tavtest::PlugRadio(k, static_cast<uint8_t>(0x50 + k));
    }
    ~PresentStacks() { air::Air::Instance().Clear(); }
};

QStringList Texts(const TMessageBoxScript& script) {
    QStringList out;
    for (const auto& r : script.Asked())
        out << r.text;
    return out;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        win::MessageBridge::Install();
        ASSERT_TRUE(home.isValid());
        testDb = std::make_unique<tavlin::test::TestDatabase>();
        database = QString::fromStdString(testDb->Path());
        WriteSettings(database);
    }
    void TearDown() override { Translator().SetLanguageName(QString()); }
    QString WorkBase() const { return home.filePath("data/Tavlin"); }

    tavtest::StationHome home;
    std::unique_ptr<tavlin::test::TestDatabase> testDb;
    QString database;
    TMessageBoxScript questions;
};

const QString ConfigQuestion =
    "Unable to connect to the database. Do you want to configure the database connection settings?";

TEST_F(MainWindowTest, ConnectLoopRetriesOnlyWhileTheOperatorConfigures) {
    // No Settings key, operator gives up: nothing past the loop happens.
    DeleteSettings();
    questions.Answer(TMsgResult::No);
    {
        TfmMain w;
        EXPECT_FALSE(w.Connected);
        EXPECT_EQ(Texts(questions),
                  QStringList{"The database could not be opened: Database name is missing\n\n" + ConfigQuestion});
        EXPECT_EQ(questions.Asked()[0].type, TMsgDlgType::Warning);
        EXPECT_EQ(w.lvAPIs->topLevelItemCount(), 0);
        EXPECT_FALSE(w.vyrAPI.IsLoaded());
        EXPECT_FALSE(w.IBTransaction.InTransaction());
        EXPECT_FALSE(QDir(WorkBase()).exists());
    }
    // Yes, the dialog is cancelled: unconnected after one question, nothing written.
    questions.Clear();
    questions.Answer(TMsgResult::Yes);
    OnDbSettingsDialog([](TfmDbSettings& d) { d.reject(); });
    {
        TfmMain w;
        EXPECT_FALSE(w.Connected);
        EXPECT_EQ(questions.Asked().size(), 1u);
        EXPECT_FALSE(vcl::TRegistry().KeyExists(SettingsKeyPath().toStdU16String()));
    }
    // Yes, then OK with a path that works: the loop reads the saved settings and connects.
    questions.Clear();
    WriteSettings(home.filePath("missing.fdb"), {}, "Deutsch");
    questions.Answer(TMsgResult::Yes);
    OnDbSettingsDialog([this](TfmDbSettings& d) {
        d.edPath()->setText(database);
        d.btOK()->click();
    });
    TfmMain w;
    EXPECT_TRUE(w.Connected);
    ASSERT_EQ(questions.Asked().size(), 1u);
    // The engine's reason comes first.
    EXPECT_TRUE(questions.Asked()[0].text.contains("missing.fdb")) << questions.Asked()[0].text.toStdString();
    EXPECT_TRUE(questions.Asked()[0].text.endsWith("\n\n" + ConfigQuestion));
    EXPECT_EQ(questions.Unexpected(), 0);
    EXPECT_EQ(QString::fromStdString(w.IBDatabase.DatabaseName()), database);
    EXPECT_EQ(w.IBDatabase.Params(), (std::vector<std::string>{"user_name=SYSDBA", "password=pw", "lc_ctype=UTF8"}));
    EXPECT_EQ(w.LanguageName, "Deutsch");
    EXPECT_EQ(Translator().LanguageName(), "Deutsch");
}

TEST_F(MainWindowTest, StartWithoutDatabaseEndsWithoutShowingTheWindow) {
    DeleteSettings();
    questions.Answer(TMsgResult::No);
    bool loopRan = false;
    // If the loop ever ran, this ends it and the test fails instead of hanging. The guard is this test's
    // own: once the test is over the timer can no longer write into a later test's stack or end its loop.
    QObject guard;
    QTimer::singleShot(3000, &guard, [&] {
        loopRan = true;
        QApplication::exit(1);
    });
    bool shown = true, apiLoaded = true, splashUp = false;
    const int rc = RunStation(0, [&](TfmMain& w) {
        shown = w.isVisible();
        apiLoaded = w.vyrAPI.IsLoaded();
        splashUp = fmSplash && fmSplash->isVisible();
    });
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(loopRan);
    EXPECT_FALSE(shown);
    EXPECT_FALSE(apiLoaded);
    EXPECT_TRUE(splashUp);
    EXPECT_EQ(fmSplash, nullptr);
    EXPECT_EQ(fmMain, nullptr);
    ASSERT_EQ(questions.Asked().size(), 1u);
    EXPECT_TRUE(questions.Asked()[0].text.endsWith(ConfigQuestion));
}

TEST_F(MainWindowTest, AFailedOpenNamesTheEnginesReasonAndASilentServerIsGivenUpOn) {
    questions.Answer(TMsgResult::No);
    auto reason = [&](const QString& path, const QString& server) {
        questions.Clear();
        WriteSettings(path, server);
        TfmMain w;
        EXPECT_FALSE(w.Connected);
        EXPECT_EQ(questions.Asked().size(), 1u);
        return questions.Asked().empty() ? QString() : questions.Asked()[0].text;
    };
    const QString notDatabase = home.filePath("notes.fdb");
    QFile f(notDatabase);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'x'));
    f.close();
    EXPECT_TRUE(reason(notDatabase, {}).contains("not a valid database")) << reason(notDatabase, {}).toStdString();
    // A port that takes the connection and never answers, as a stopped server's does.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    QElapsedTimer took;
    took.start();
    const QString silent = reason("/srv/tavlin.fdb", QStringLiteral("127.0.0.1/%1").arg(ntohs(a.sin_port)));
    EXPECT_LT(took.elapsed(), 15000);
    ::close(listener);
    EXPECT_TRUE(silent.startsWith("The database could not be opened: The database server 127.0.0.1/"))
        << silent.toStdString();
    EXPECT_TRUE(silent.contains("did not answer within 5 seconds")) << silent.toStdString();
}

TEST_F(MainWindowTest, SplashPaintsWhatIsAskedDuringItsTime) {
    // A window manager that maps the splash late asks for its picture only after show(): a
    // paint asked for 100 ms into the splash's time, before the main window exists.
    DeleteSettings();
    questions.Answer(TMsgResult::No);
    struct TPaints : QObject {
        bool asked = false;
        int painted = 0;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (asked && o == fmSplash && e->type() == QEvent::Paint)
                ++painted;
            return false;
        }
    } paints;
    QApplication::instance()->installEventFilter(&paints);
    QTimer::singleShot(100, &paints, [&] {
        if (fmSplash && !fmMain) {
            paints.asked = true;
            fmSplash->update();
        }
    });
    int paintedWhileUp = 0;
    RunStation(400, [&](TfmMain&) { paintedWhileUp = paints.painted; });
    QApplication::instance()->removeEventFilter(&paints);
    EXPECT_TRUE(paints.asked);
    EXPECT_GE(paintedWhileUp, 1);
}

TEST_F(MainWindowTest, CreationFillsInterfacesFoldersAndStatus) {
    // A folder that already exists keeps what it holds.
    ASSERT_TRUE(QDir().mkpath(WorkBase() + "/2"));
    QFile kept(WorkBase() + "/2/keep.txt");
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.write("x");
    kept.close();

    PresentStacks microsoft({1});
    TfmMain w;
    ASSERT_TRUE(w.Connected);
    EXPECT_EQ(fmMain, &w);
    EXPECT_TRUE(questions.Asked().empty());
    EXPECT_TRUE(w.IBTransaction.InTransaction());
    EXPECT_TRUE(w.vyrAPI.IsLoaded());
    ASSERT_EQ(w.lvAPIs->topLevelItemCount(), 4);
    const QStringList names{"BlueSoleil", "Microsoft", "Toshiba", "WidComm"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(w.lvAPIs->topLevelItem(i)->text(0), names[i]);
        // The loaded API's stacks are marked at once.
        EXPECT_EQ(w.lvAPIs->topLevelItem(i)->text(1), i == 1 ? "Detected" : "Not detected");
        EXPECT_EQ(w.lvAPIs->topLevelItem(i)->text(2), "Stopped");
        EXPECT_EQ(w.SenderFolders[size_t(i)], WorkBase() + "/" + QString::number(i) + "/");
        EXPECT_TRUE(QDir(w.SenderFolders[size_t(i)]).exists());
    }
    EXPECT_TRUE(QFile::exists(WorkBase() + "/2/keep.txt"));
    EXPECT_EQ(w.StatusPanelText(1), "Sender is stopped");
    EXPECT_FALSE(w.Engine->Running);
    EXPECT_EQ(w.LanguageName, "English");
    EXPECT_EQ(w.windowTitle(), "Tavlin - Bluetooth Proximity Marketing");
    // Nothing is appended to the dialogs' own titles.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Tavlin");
    EXPECT_EQ(w.HelpFile, QCoreApplication::applicationDirPath() + "/Tavlin Help.chm");

    // A second start keeps the folders and their content.
    TfmMain again;
    EXPECT_TRUE(QFile::exists(WorkBase() + "/2/keep.txt"));
}

TEST_F(MainWindowTest, EnablingRules) {
    {
        TfmMain none;
        none.UpdateActions();
        EXPECT_FALSE(none.acSenderStart->isEnabled());
        EXPECT_FALSE(none.acSenderSendToDevice->isEnabled());
        EXPECT_FALSE(none.acSenderStop->isEnabled());
        EXPECT_TRUE(none.acReportsChart->isEnabled());
    }
    PresentStacks widcomm({1});
    TfmMain w;
    w.UpdateActions();
    EXPECT_TRUE(w.acSenderStart->isEnabled());
    EXPECT_TRUE(w.acSenderSendToDevice->isEnabled());
    EXPECT_FALSE(w.acSenderStop->isEnabled());

    w.acSenderStart->trigger();
    ASSERT_TRUE(w.Engine->Running);
    EXPECT_EQ(w.StatusPanelText(1), "Sender is running");
    w.UpdateActions();
    EXPECT_FALSE(w.acSenderStart->isEnabled());
    EXPECT_TRUE(w.acSenderStop->isEnabled());
    EXPECT_TRUE(w.acSenderSendToDevice->isEnabled());
    w.acSenderStop->trigger();

    // Per-campaign actions need a selected row; the others are always enabled.
    const QList<QAction*> perCampaign{w.acCampaignsEdit,  w.acCampaignsDelete, w.acReportsProcessed,
                                      w.acReportsIgnored, w.acReportsRejected, w.acBlackListTermorary,
                                      w.acReportsHistory};
    const QList<QAction*> always{
        w.acReportsDetailsPerCampaigns, w.acReportsChart, w.acCampaignsRefresh, w.acAddFileBased, w.acAddWizard,
        w.acSettingsDatabase,           w.acHelpHelp,     w.acHelpAbout,        w.acSenderExit};
    auto* row = new QTreeWidgetItem(w.lvCampaigns, {"Summer", "File", "Continuous", "Yes"});
    row->setData(0, Qt::UserRole, 17);
    w.UpdateActions();
    for (QAction* a : perCampaign)
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    for (QAction* a : always)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_EQ(w.SelectedCampaignId(), 0);

    // The idle pass picks a new selection up by itself.
    row->setSelected(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.acCampaignsEdit->isEnabled(); }, 2000));
    for (QAction* a : perCampaign)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_EQ(w.SelectedCampaignId(), 17);
}

TEST_F(MainWindowTest, CloseQuestionKeepsOrStopsTheSenders) {
    PresentStacks two({1, 2});
    TfmMain w;
    w.show();
    w.acSenderStart->trigger();
    ASSERT_TRUE(w.Engine->Running);
    ASSERT_TRUE(w.Engine->vyrProximitySender1->Active() && w.Engine->vyrProximitySender2->Active());

    questions.Answer(TMsgResult::No);
    EXPECT_FALSE(w.close());
    ASSERT_EQ(questions.Asked().size(), 1u);
    EXPECT_EQ(questions.Asked()[0].text, "Are you sure you want to close the application?");
    EXPECT_EQ(questions.Asked()[0].type, TMsgDlgType::Confirmation);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.Engine->Running);
    EXPECT_TRUE(w.Engine->vyrProximitySender1->Active() && w.Engine->vyrProximitySender2->Active());

    // Exit asks the same question; Yes stops everything before the window goes.
    int stoppedWhileConnected = 0;
    for (int i = 0; i < 4; ++i) {
        auto engine = w.Sender(i)->OnStopped;
        w.Sender(i)->OnStopped = [&, engine](vcl::TObject* o) {
            stoppedWhileConnected += w.IBDatabase.Connected();
            engine(o);
        };
    }
    questions.Answer(TMsgResult::Yes);
    w.acSenderExit->trigger();
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.Engine->Running);
    EXPECT_FALSE(w.AnySenderActive());
    EXPECT_EQ(stoppedWhileConnected, 2);
    EXPECT_EQ(w.StatusPanelText(1), "Sender is stopped");
}

TEST_F(MainWindowTest, TeardownStopsSendersAndUnloadsBeforeTheDatabaseGoes) {
    PresentStacks one({0});
    auto w = std::make_unique<TfmMain>();
    w->acSenderStart->trigger();
    ASSERT_TRUE(w->Engine->Running);
    bool databaseStillOpen = false, apiStillLoaded = false;
    TfmMain* window = w.get();
    w->Engine->vyrProximitySender1->OnStopped = [&](vcl::TObject*) {
        databaseStillOpen = window->IBDatabase.Connected() && window->IBTransaction.InTransaction();
        apiStillLoaded = window->vyrAPI.IsLoaded();
    };
    w.reset();
    EXPECT_TRUE(databaseStillOpen);
    EXPECT_TRUE(apiStillLoaded);
    EXPECT_EQ(fmMain, nullptr);
}

TEST_F(MainWindowTest, ReportTitleGetsTheCampaignNameAfterTranslation) {
    TfmMain w;
    auto* row = new QTreeWidgetItem(w.lvCampaigns, {"Summer sale"});
    row->setData(0, Qt::UserRole, 42);

    QDialog report(&w);
    report.setObjectName("fmAccepted");
    auto* laTitle = new QLabel("Accepted devices for campaign ", &report);
    laTitle->setObjectName("laTitle");
    int campaign = 0;
    QString shownTitle;
    QTimer::singleShot(0, &report, [&] {
        w.TranslateForm(&report);
        shownTitle = laTitle->text();
        report.accept();
    });
    // Without a selection nothing opens.
    w.ShowCampaignReport(report, laTitle, [&](int id) { campaign = id; });
    EXPECT_EQ(campaign, 0);
    row->setSelected(true);
    w.ShowCampaignReport(report, laTitle, [&](int id) { campaign = id; });
    EXPECT_EQ(campaign, 42);
    EXPECT_EQ(shownTitle, "Accepted devices for campaign Summer sale");
    // The language file keeps the title alone, so the next campaign's report is not named after this one.
    vcl::TIniFile lang(home.filePath("langs.dat").toStdU16String());
    EXPECT_EQ(lang.ReadString(u"English", u"fmAccepted_laTitle", u"?"), u"Accepted devices for campaign ");
    // A second campaign replaces the name instead of piling it up.
    TfmMain::SetCaptionSuffix(laTitle, "Winter");
    EXPECT_EQ(laTitle->text(), "Accepted devices for campaign Winter");
}

TEST_F(MainWindowTest, MenusToolBarPopupAndHelp) {
    TfmMain w;
    auto titles = [](const QList<QAction*>& actions) {
        QStringList out;
        for (QAction* a : actions)
            out << (a->isSeparator() ? "-" : a->text());
        return out;
    };
    auto* bar = w.findChild<QMenuBar*>("ActionMainMenuBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(titles(bar->actions()), (QStringList{"&Sender", "C&ampaigns", "R&eports", "T&ools", "&Help"}));
    EXPECT_EQ(titles(bar->actions()[0]->menu()->actions()),
              (QStringList{"&Start", "S&top", "-", "Send to &device...", "-", "E&xit"}));
    EXPECT_EQ(titles(bar->actions()[1]->menu()->actions()),
              (QStringList{"&Add", "-", "&Edit", "&Delete", "-", "&Refresh"}));
    EXPECT_EQ(w.acCampaignsEdit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Return));
    EXPECT_EQ(w.acCampaignsDelete->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Delete));
    EXPECT_EQ(w.acCampaignsRefresh->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(w.acAddWizard->statusTip(), "Add new campaign with using  New Campaign Wizard");
    EXPECT_EQ(w.acAddWizard->property("category").toString(), "&Add");

    auto* tools = w.findChild<QToolBar*>("ActionToolBar");
    ASSERT_NE(tools, nullptr);
    EXPECT_EQ(tools->actions().size(), 20);
    EXPECT_EQ(tools->toolButtonStyle(), Qt::ToolButtonIconOnly);
    // Where the menu or the tool bar names an action its own way, the item runs the action and
    // follows its state.
    EXPECT_EQ(titles(w.findChild<QMenu*>("mmAdd")->actions()),
              (QStringList{"&File based..", "&vCard based...", "&Promotion...", "&Wizard..."}));
    EXPECT_EQ(titles(w.findChild<QMenu*>("mmReports")->actions()).last(), "&Chart");
    QAction* toolWizard = tools->actions()[9];
    QAction* toolDelete = tools->actions()[12];
    EXPECT_EQ(toolWizard->text(), "W&izard...");
    EXPECT_EQ(toolDelete->text(), "De&lete");
    EXPECT_EQ(toolWizard->toolTip(), "Add new campaign with using  New Campaign Wizard");
    w.UpdateActions();
    EXPECT_FALSE(toolDelete->isEnabled());
    w.acCampaignsDelete->setEnabled(true);
    EXPECT_TRUE(toolDelete->isEnabled());
    int wizards = 0;
    w.CampaignList->ShowWizardHook = [&](TfmWizard&) { return ++wizards, int(QDialog::Rejected); };
    toolWizard->trigger();
    w.findChild<QMenu*>("mmAdd")->actions().last()->trigger();
    EXPECT_EQ(wizards, 2);
    EXPECT_EQ(titles(w.PopupMenu->actions()),
              (QStringList{"Add", "-", "&Edit", "&Delete", "-", "&Refresh", "-", "Reports"}));
    EXPECT_EQ(w.Reports1->actions().size(), 5);

    // Hints land in the first status panel.
    QStatusTipEvent tip("Show chart");
    QApplication::sendEvent(&w, &tip);
    EXPECT_EQ(w.StatusPanelText(0), "Show chart");

    // Help without its file says which file it looked for, and where; with it, opens it.
    QUrl opened;
    auto saved = TfmMain::OpenUrlHook;
    TfmMain::OpenUrlHook = [&](const QUrl& u) { return opened = u, false; };
    w.HelpFile = home.filePath("help/Tavlin Help.chm");
    questions.Clear();
    w.acHelpHelp->trigger();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(Texts(questions),
              QStringList{"The help file \"Tavlin Help.chm\" was not found in " + home.filePath("help") + "."});
    ASSERT_TRUE(QDir().mkpath(home.filePath("help")));
    QFile(w.HelpFile).open(QIODevice::WriteOnly);
    w.acHelpHelp->trigger();
    TfmMain::OpenUrlHook = saved;
    EXPECT_EQ(opened, QUrl::fromLocalFile(w.HelpFile));
    EXPECT_EQ(questions.Asked().size(), 1u);

    // About shows the splash with its close button, and frees it afterwards.
    bool closeVisible = false;
    QTimer::singleShot(0, [&] {
        ASSERT_NE(fmSplash, nullptr);
        closeVisible = fmSplash->btClose->isVisible();
        fmSplash->btClose->click();
    });
    w.acHelpAbout->trigger();
    EXPECT_TRUE(closeVisible);
    EXPECT_EQ(fmSplash, nullptr);

    // The database dialog's OK asks for a restart; Cancel says nothing.
    questions.Clear();
    OnDbSettingsDialog([](TfmDbSettings& d) { d.btOK()->click(); });
    w.acSettingsDatabase->trigger();
    EXPECT_EQ(Texts(questions), QStringList{"You must restart the application to apply the changes."});
    OnDbSettingsDialog([](TfmDbSettings& d) { d.reject(); });
    w.acSettingsDatabase->trigger();
    EXPECT_EQ(questions.Asked().size(), 1u);
}

TEST_F(MainWindowTest, CaptionsComeFromTheLanguageFileByComponentName) {
    const std::u16string file = home.filePath("langs.dat").toStdU16String();
    {
        TfmMain w;
        w.show();
    }
    // The first showing writes every caption under keys built from the component names.
    vcl::TIniFile lang(file);
    auto stored = [&](const char16_t* key) {
        return QString::fromStdU16String(lang.ReadString(u"English", key, u"?"));
    };
    EXPECT_EQ(stored(u"fmMain_Caption"), "Tavlin - Bluetooth Proximity Marketing");
    EXPECT_EQ(stored(u"fmMain_acSenderStart"), "&Start");
    EXPECT_EQ(stored(u"fmMain_acSenderStart_Hint"), "Start sending");
    EXPECT_EQ(stored(u"fmMain_acBlackListTermorary"), "&Termporary black list...");
    EXPECT_EQ(stored(u"fmMain_lvCampaigns_3"), "Enabled");
    EXPECT_EQ(stored(u"fmMain_lvProcess_2"), "Class Of Device");
    EXPECT_EQ(stored(u"fmMain_lvAPIs_2"), "Action");
    EXPECT_EQ(stored(u"fmMain_ActionManager_0"), "&Sender");
    EXPECT_EQ(stored(u"fmMain_ActionManager_2"), "&Add");
    EXPECT_EQ(stored(u"fmMain_ActionManager_5"), "&Help");
    EXPECT_EQ(stored(u"STR_SENDER_STOPPED"), "Sender is stopped");
    EXPECT_EQ(stored(u"STR_NOT_DETECTED"), "Not detected");

    // A translated section is used for the window, its lists and its run-time texts.
    const std::pair<const char16_t*, const char16_t*> german[] = {
        {u"fmMain_Caption", u"Tavlin - Bluetooth-Nahbereichsmarketing"},
        {u"fmMain_acSenderStart", u"&Starten"},
        {u"fmMain_acSenderStart_Hint", u"Senden starten"},
        {u"fmMain_lvCampaigns_0", u"Kampagne"},
        {u"fmMain_ActionManager_0", u"&Sender (de)"},
        {u"fmMain_acAddWizard", u"&Assistent..."},
        {u"STR_SENDER_STOPPED", u"Sender ist angehalten"},
        {u"STR_NOT_DETECTED", u"Nicht erkannt"},
        {u"STR_CLOSE_APP", u"Anwendung wirklich beenden?"},
    };
    for (const auto& [key, text] : german)
        lang.WriteString(u"Deutsch", key, text);
    WriteSettings(database, {}, "Deutsch");
    TfmMain w;
    w.show();
    EXPECT_EQ(w.windowTitle(), "Tavlin - Bluetooth-Nahbereichsmarketing");
    EXPECT_EQ(w.acSenderStart->text(), "&Starten");
    EXPECT_EQ(w.acSenderStart->statusTip(), "Senden starten");
    EXPECT_EQ(w.lvCampaigns->headerItem()->text(0), "Kampagne");
    EXPECT_EQ(w.findChild<QMenuBar*>("ActionMainMenuBar")->actions()[0]->text(), "&Sender (de)");
    // An item's own caption is its own: the language file renames the action, not the item.
    EXPECT_EQ(w.acAddWizard->text(), "&Assistent...");
    EXPECT_EQ(w.findChild<QMenu*>("mmAdd")->actions().last()->text(), "&Wizard...");
    EXPECT_EQ(w.StatusPanelText(1), "Sender ist angehalten");
    EXPECT_EQ(w.lvAPIs->topLevelItem(0)->text(1), "Nicht erkannt");
    // Untranslated keys fall back to English and fill the new section for a translator.
    EXPECT_EQ(w.acSenderStop->text(), "S&top");
    EXPECT_EQ(QString::fromStdU16String(lang.ReadString(u"Deutsch", u"fmMain_acSenderStop", u"?")), "S&top");
    questions.Answer(TMsgResult::No);
    w.close();
    EXPECT_EQ(Texts(questions), QStringList{"Anwendung wirklich beenden?"});
}

TEST_F(MainWindowTest, OnlyTheSelectedCampaignShowsHighlighted) {
    TfmMain w;
    for (const char* name : {"Summer sale", "Welcome card"})
        new QTreeWidgetItem(w.lvCampaigns, {name, "Promotion", "Continuous", "Yes"});
    w.show();
    w.activateWindow();
    w.lvCampaigns->setFocus(); // the view makes its first row current
    QApplication::processEvents();
    // The shade of each row, right of its name.
    auto shades = [&] {
        const QImage shot = w.lvCampaigns->viewport()->grab().toImage();
        QList<QRgb> out;
        for (int i = 0; i < 2; ++i)
            out << shot.pixel(200, w.lvCampaigns->visualItemRect(w.lvCampaigns->topLevelItem(i)).center().y());
        return out;
    };
    const QList<QRgb> none = shades();
    EXPECT_EQ(none[0], none[1]);
    w.lvCampaigns->topLevelItem(1)->setSelected(true);
    const QList<QRgb> second = shades();
    EXPECT_EQ(second[0], none[0]);
    EXPECT_NE(second[1], none[1]);
    questions.Answer(TMsgResult::Yes);
    w.close();
}

TEST_F(MainWindowTest, RendersToPicture) {
    PresentStacks two({1, 3});
    TfmMain w;
    const char* rows[][4] = {{"Summer sale", "Promotion", "Date/time", "Yes"},
                             {"Welcome card", "vCard", "Continuous", "Yes"},
                             {"Price list", "File", "Days of week", "No"}};
    for (auto& r : rows)
        new QTreeWidgetItem(w.lvCampaigns, {r[0], r[1], r[2], r[3]});
    new QTreeWidgetItem(w.lvProcess, {"(00:1A:7D:DA:71:13)", "Nokia 6300", "0x005A0204", "Microsoft", "Accepted"});
    w.lvCampaigns->topLevelItem(0)->setSelected(true);
    w.resize(980, 640);
    w.show();
    w.acSenderStart->trigger();
    QApplication::processEvents();
    w.UpdateActions();
    const QString dir = QCoreApplication::applicationDirPath() + "/../screenshots";
    QDir().mkpath(dir);
    const QImage image = w.grab().toImage();
    EXPECT_EQ(image.width(), 980);
    EXPECT_TRUE(image.save(dir + "/main.png"));
    // At 1024 x 768 the sender's panel shows each of its texts whole.
    w.resize(1024, 768);
    auto* panel = w.findChild<QLabel*>("StatusBarPanel1");
    for (const StrKey& key : {STR_SENDER_RUNNING, STR_SENDER_STOPPED, STR_DB_LOST, STR_DB_WAITING}) {
        w.SetStatusPanelText(1, TranslateText(key));
        QApplication::processEvents();
        EXPECT_GE(panel->contentsRect().width(), panel->fontMetrics().horizontalAdvance(panel->text())) << key.key;
    }
    TfmSplash splash;
    splash.btClose->setVisible(true);
    EXPECT_TRUE(splash.grab().save(dir + "/splash.png"));
    questions.Answer(TMsgResult::Yes);
    w.close();
}

} // namespace

TEST_F(MainWindowTest, CampaignActionsWorkOnTheList) {
    TfmMain w;
    ASSERT_TRUE(w.Connected);
    EXPECT_EQ(w.lvCampaigns->topLevelItemCount(), 0);
    w.CampaignList->ShowModalHook = [](TCampEditor& ed) {
        ed.edCampaignName->setText(ed.CampaignId == 0 ? "Summer" : "Summer 2");
        ed.accept();
        return ed.result();
    };
    w.acAddTextBased->trigger();
    ASSERT_EQ(w.lvCampaigns->topLevelItemCount(), 1);
    QTreeWidgetItem* row = w.lvCampaigns->topLevelItem(0);
    EXPECT_EQ(row->text(0), "Summer");
    EXPECT_EQ(row->text(1), "Text");
    const int id = row->data(0, Qt::UserRole).toInt();
    EXPECT_GT(id, 0);

    // A double click opens the selected campaign in its editor.
    row->setSelected(true);
    emit w.lvCampaigns->itemDoubleClicked(row, 0);
    EXPECT_EQ(w.lvCampaigns->topLevelItem(0)->text(0), "Summer 2");

    // A campaign a radio holds stays, and the operator is told why.
    ibx::TIBQuery lock;
    lock.SetTransaction(&w.IBTransaction);
    lock.SetSQL(
        "insert into CAMPAIGN_LOCKS (CAMPAIGN_LOCKS_ID, CAMPAIGN_LOCKS_CAMPAIGNS_ID, CAMPAIGN_LOCKS_DONGLE_MAC, "
        "CAMPAIGN_LOCKS_LOCK_TIME) values (1, " +
        std::to_string(id) + ", '(00:11:22:33:44:55)', current_timestamp)");
    lock.ExecSQL();
    w.IBTransaction.CommitRetaining();
    questions.Answer(TMsgResult::Yes);
    w.acCampaignsDelete->trigger();
    EXPECT_EQ(Texts(questions), (QStringList{"Are you sure you want to delete campaign?", "Campaign is running"}));
    ASSERT_EQ(w.lvCampaigns->topLevelItemCount(), 1);

    // Refresh reads the stored list again.
    w.acCampaignsRefresh->trigger();
    ASSERT_EQ(w.lvCampaigns->topLevelItemCount(), 1);
    EXPECT_EQ(w.lvCampaigns->topLevelItem(0)->text(0), "Summer 2");
    EXPECT_EQ(questions.Unexpected(), 0);
}

TEST_F(MainWindowTest, ContentGoesToTheSenderWorkFoldersAndAwayAgain) {
    TfmMain w;
    ASSERT_TRUE(w.Connected);
    ibx::TIBQuery add;
    add.SetTransaction(&w.IBTransaction);
    add.SetSQL("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
               "CAMPAIGNS_FILE_NAME, CAMPAIGNS_DATA) values (900, 'Clip', 0, 0, 'clip.txt', 'hello')");
    add.ExecSQL();
    w.IBTransaction.CommitRetaining();

    // No campaign this cycle: nothing is written.
    EXPECT_EQ(w.PrepareCampaignFile(1, "(00:11:22:33:44:55)"), "");
    w.Engine->SenderSlots[1].CampaignId = 900;
    w.Engine->SenderSlots[2].CampaignId = 900;
    const QString one = w.PrepareCampaignFile(1, "(00:11:22:33:44:55)");
    const QString two = w.PrepareCampaignFile(2, "(00:11:22:33:44:55)");
    EXPECT_EQ(one, WorkBase() + "/1/001122334455/clip.txt");
    QFile f(one);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "hello");
    ASSERT_EQ(w.SentFiles().size(), 2u);

    // The same phone on two radios: each sender's clean-up touches its own file only.
    w.DeleteDeviceFile(1, "(00:11:22:33:44:55)");
    EXPECT_FALSE(QFile::exists(one));
    EXPECT_FALSE(QDir(WorkBase() + "/1/001122334455").exists());
    EXPECT_TRUE(QFile::exists(two));
    w.DeleteSenderFiles(2);
    EXPECT_FALSE(QFile::exists(two));
    EXPECT_TRUE(w.SentFiles().empty());
    EXPECT_EQ(w.PrepareCampaignFile(7, "(00:11:22:33:44:55)"), "");
}

TEST_F(MainWindowTest, ResultsKeptByAnEarlierRunAreRecordedOnceAtStart) {
    auto conn = testDb->Connect();
    ibx::TIBTransaction tr;
    tr.SetDefaultDatabase(conn.get());
    tr.StartTransaction();
    tavlin::test::ExecCommitted(tr, "insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, "
                                    "CAMPAIGNS_SCHEDULE, CAMPAIGNS_FILE_NAME) values (5, 'Card', 1, 0, 'a.vcf')");
    // Another station's transaction holds the row an ignored push of phone 04 updates.
    tavlin::test::ExecCommitted(tr, "insert into DEVICES (DEVICES_ID, DEVICES_MAC, DEVICES_COUNT) values (4, "
                                    "'(00:1E:3A:00:00:04)', 1)");
    tavlin::test::ExecCommitted(tr, "insert into IGNORED (IGNORED_CAMPAIGNS_ID, IGNORED_DEVICES_ID, IGNORED_ATTEMPT) "
                                    "values (5, 4, 1)");
    ibx::TIBSQL hold;
    hold.SetTransaction(&tr);
    hold.SetSQL("update IGNORED set IGNORED_ATTEMPT = 1 where IGNORED_DEVICES_ID = 4");
    hold.ExecQuery();
    // One result for a campaign deleted since, one line damaged on disk, one kept by an earlier
    // version (no time), two with the times their pushes ended.
    ASSERT_TRUE(QDir().mkpath(WorkBase()));
    const QString file = WorkBase() + "/kept-results.txt";
    const QByteArray text = "# kept\n"
                            "(00:1E:3A:00:00:01)\t5\t0\t(00:11:22:33:44:51)\t2026-03-01T09:15:30.250\n"
                            "(00:1E:3A:00:00:02)\t9\t0\t(00:11:22:33:44:51)\n"
                            "(00:1E:3A:00:0\xff\n"
                            "(00:1E:3A:00:00:03)\t5\t2\t\n"
                            "(00:1E:3A:00:00:04)\t5\t1\t\t2026-03-01T09:16:00.000\n";
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();

    auto processed = [](TfmMain& w, const char* where) {
        ibx::TIBQuery q;
        q.SetTransaction(&w.IBTransaction);
        q.SetSQL(std::string("select count(*) from HISTORY h join DEVICES d on d.DEVICES_ID = h.HISTORY_DEVICES_ID "
                             "left join PROCESSED p on p.PROCESSED_DEVICES_ID = d.DEVICES_ID where ") +
                 where);
        q.Open();
        const int n = q.Fields(0).AsInteger();
        q.Close();
        return n;
    };
    {
        TfmMain w;
        ASSERT_TRUE(w.Connected);
        QCoreApplication::processEvents();
        // Recorded at the time its push ended, the coupon's time included.
        EXPECT_EQ(processed(w, "DEVICES_MAC = '(00:1E:3A:00:00:01)' and HISTORY_RESULT = 0 and HISTORY_DATE_TIME = "
                               "'2026-03-01 09:15:30.250' and PROCESSED_DATE_TIME = HISTORY_DATE_TIME"),
                  1);
        EXPECT_EQ(processed(w, "DEVICES_MAC = '(00:1E:3A:00:00:03)' and HISTORY_RESULT = 2"), 1);
        EXPECT_EQ(processed(w, "1 = 1"), 2);
        // The one another transaction stood in the way of stays kept, without a word.
        ASSERT_EQ(w.Engine->KeptResults.Results().size(), 1u);
        EXPECT_EQ(w.Engine->KeptResults.Results()[0].Mac, "(00:1E:3A:00:00:04)");
        // Both troubles said once, each naming what it is about; the damaged file stays for a look.
        const QStringList boxes = Texts(questions);
        ASSERT_EQ(boxes.size(), 2) << boxes.join("\n").toStdString();
        EXPECT_TRUE(boxes.filter("line 4 cannot be read").size() == 1) << boxes.join("\n").toStdString();
        EXPECT_TRUE(boxes.filter("(00:1E:3A:00:00:02) 9 0").size() == 1) << boxes.join("\n").toStdString();
        QFile aside(file + ".damaged");
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), text);
        // Once the other is done, the next write records it.
        tr.Rollback();
        EXPECT_TRUE(w.Engine->WriteKeptResults());
        EXPECT_EQ(processed(w, "DEVICES_MAC = '(00:1E:3A:00:00:04)' and HISTORY_DATE_TIME = '2026-03-01 09:16:00'"), 1);
        EXPECT_FALSE(QFile::exists(file));
    }
    // Recorded once: the next start finds nothing to write.
    questions.Clear();
    {
        TfmMain again;
        QCoreApplication::processEvents();
        EXPECT_EQ(processed(again, "1 = 1"), 3);
        EXPECT_TRUE(questions.Asked().empty());
    }
    // A database of an earlier schema, whose SET_DEVICE takes no time, still records them.
    ibx::ExecuteScript(*conn,
                       "SET TERM ^;\nALTER PROCEDURE SET_DEVICE (MAC VARCHAR(19), CAMPAIGN_ID INTEGER, "
                       "RESULT SMALLINT, DONGLE VARCHAR(19)) AS BEGIN INSERT INTO HISTORY (HISTORY_CAMPAIGNS_ID, "
                       "HISTORY_DEVICES_ID, HISTORY_DATE_TIME, HISTORY_RESULT) VALUES (:CAMPAIGN_ID, 4, "
                       "CURRENT_TIMESTAMP, :RESULT); END^\nSET TERM ;^\n");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("(00:1E:3A:00:00:04)\t5\t1\t\t2026-03-01T09:17:00.000\n");
    f.close();
    TfmMain earlier;
    QCoreApplication::processEvents();
    EXPECT_EQ(processed(earlier, "1 = 1"), 4);
    EXPECT_TRUE(earlier.Engine->KeptResults.Empty());
    EXPECT_TRUE(questions.Asked().empty());
}
