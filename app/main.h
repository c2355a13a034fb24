// The station's main window: it owns the database connection, the campaign list, the
// interface list, the list of devices being processed, the library's API object and
// the sending engine with its four proximity senders, and carries the actions of the
// whole application.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"
#include "campaigncontent.h"
#include "campaignlist.h"
#include "sendingengine.h"
#include "strings.h"
#include "vyrAPI.h"

#include <QLabel>
#include <QMainWindow>
#include <QPair>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>

namespace Ui {
class fmMain;
}
class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QStatusBar;
class QUrl;

class TfmMain : public QMainWindow, private TSendingView {
    Q_OBJECT

public:
    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    // Components, under the names the language file's keys are built from.
    QTreeWidget* lvCampaigns = nullptr;
    QTreeWidget* lvProcess = nullptr;
    QTreeWidget* lvAPIs = nullptr;
    QStatusBar* StatusBar = nullptr;
    QMenu* PopupMenu = nullptr;
    QMenu* miAdd = nullptr;
    QMenu* Reports1 = nullptr;
    QAction *acSenderStart, *acSenderStop, *acSenderSendToDevice, *acSenderExit;
    QAction *acAddFileBased, *acAddTextBased, *acAddPromotion, *acAddWizard;
    QAction *acCampaignsEdit, *acCampaignsDelete, *acCampaignsRefresh;
    QAction *acReportsProcessed, *acReportsIgnored, *acReportsRejected, *acBlackListTermorary, *acReportsHistory;
    QAction *acReportsDetailsPerCampaigns, *acReportsChart;
    QAction *acSettingsBlackList, *acSettingsWhiteList, *acToolsCheckCoupon, *acSettingsDatabase, *acToolsSettings;
    QAction *acHelpHelp, *acHelpAbout;

    // Declared before everything that uses them, so they are the last to go.
    ibx::TIBDatabase IBDatabase;
    ibx::TIBTransaction IBTransaction;
    vyr::TvyrAPI vyrAPI;
    // The senders, their events, their state (running, the slots) and their database steps
    // with the content they push, on the station's transaction.
    const std::unique_ptr<TSendingEngine> Engine;
    // The campaign list with its queries, on the station's transaction.
    std::unique_ptr<TCampaignList> CampaignList;

    // State the program keeps; the senders' part of it is the engine's.
    bool Connected = false;
    QString LanguageName;
    QString HelpFile;
    std::array<QString, 4> SenderFolders;

    // Texts and translation (the language file "langs.dat").
    QString TranslateText(const QString& key, const QString& defaultText);
    QString TranslateText(const StrKey& key);
    static void TranslateForm(QWidget* form);
    // Appends a run-time suffix (a campaign name) to a label's caption. Translation
    // works on the caption without it, so the suffix never reaches the language file.
    static void SetCaptionSuffix(QLabel* label, const QString& suffix);

    QString StatusPanelText(int index) const;
    void SetStatusPanelText(int index, const QString& text);

    // Runs every action's enabling rule now (the idle pass does it periodically).
    void UpdateActions();

    // The row of lvCampaigns the per-campaign actions work on; null when none is selected.
    QTreeWidgetItem* SelectedCampaign() const;
    int SelectedCampaignId() const;

    // Content of the senders' pushes, kept by the engine: a file per sender and device,
    // written into the sender's work folder and removed when the push has ended.
    QString PrepareCampaignFile(int tag, const QString& deviceAddress);
    void DeleteDeviceFile(int tag, const QString& deviceAddress);
    void DeleteSenderFiles(int tag);
    const std::vector<TCampaignContent::TPreparedFile>& SentFiles() const;

    // Campaign list (filled by the campaign-list unit).
    void LoadCampaigns();
    // Interface list and senders: the engine does the work.
    void UpdateInterfaces();
    void StopAllSenders();
    bool AnySenderActive() const;
    vyr::TvyrProximitySender* Sender(int tag) const;
    static QString InterfaceName(int kind);

    // Shows a campaign report: gives it the campaign, appends the campaign's name to its
    // title label, shows it modally.
    void ShowCampaignReport(QDialog& dialog, QLabel* laTitle, const std::function<void(int campaignId)>& setCampaign);

    // Shell access for the help file; tests replace it.
    static std::function<bool(const QUrl&)> OpenUrlHook;
    // Application-data folder ($XDG_DATA_HOME, else ~/.local/share), created when missing.
    static QString AppDataFolder();

    // Handlers.
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormDestroy();
    void acSenderStartExecute();
    void acSenderStopExecute();
    void acSenderExitExecute();
    void acSenderSendToDeviceExecute();
    void acAddFileBasedExecute();
    void acAddTextBasedExecute();
    void acAddPromotionExecute();
    void acAddWizardExecute();
    void acCampaignsEditExecute();
    void acCampaignsDeleteExecute();
    void acCampaignsRefreshExecute();
    void acReportsProcessedExecute();
    void acReportsIgnoredExecute();
    void acReportsRejectedExecute();
    void acBlackListTermoraryExecute();
    void acReportsHistoryExecute();
    void acReportsDetailsPerCampaignsExecute();
    void acReportsChartExecute();
    void acSettingsBlackListExecute();
    void acSettingsWhiteListExecute();
    void acToolsCheckCouponExecute();
    void acSettingsDatabaseExecute();
    void acToolsSettingsExecute();
    void acHelpHelpExecute();
    void acHelpAboutExecute();
    void acAlwaysEnabledUpdate(QAction* action);
    void acSenderStartUpdate();
    void acSenderStopUpdate();
    void acSenderSendToDeviceUpdate();
    void acCampaignsEditUpdate();
    void acCampaignsDeleteUpdate();
    void acCampDetailsUpdate(QAction* action);
    void acHelpHelpUpdate();
    void vyrAPIAfterLoad();
    void vyrAPIChanged();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void ConnectDatabase();
    void SetUpDatabaseComponents();
    void CreateWorkFolders();
    void FillInterfaceList();
    void SetUpActions();
    void SetUpLists();
    void SetUpStatusBar();
    void SetUpPopupMenu();
    // What the engine shows, in the interface list, the process list and the status bar.
    QWidget* MessageOwner() override { return this; }
    void ShowInterfaceDetected(int kind, bool detected) override;
    void ShowSenderAction(int kind, const QString& text) override;
    void AddProcessRow(const QStringList& columns) override;
    // Status of the device's row of that interface (a phone may be met by two radios at once).
    void SetProcessStatus(const QString& mac, const QString& text, int kind) override;
    void ClearProcessList(int kind) override;
    void ShowSendingState(const QString& text) override;
    void Bind(QAction* action, void (TfmMain::*execute)());

    std::unique_ptr<Ui::fmMain> ui_;
    std::array<QLabel*, 2> panels_{};
    QTimer idle_;
    bool destroyed_ = false;
};

// The one main window; dialogs reach TranslateText and TranslateForm through it.
extern TfmMain* fmMain;
