#include "main.h"

#include "accepted.h"
#include "bl.h"
#include "campchart.h"
#include "checkcoupon.h"
#include "dbsettings.h"
#include "details.h"
#include "devicelist.h"
#include "history.h"
#include "ignored.h"
#include "listlook.h"
#include "msgbox.h"
#include "rejected.h"
#include "sendtodevice.h"
#include "settings.h"
#include "splash.h"
#include "translation.h"
#include "ui_main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

#include <exception>

TfmMain* fmMain = nullptr;

namespace {

const QString ProductName = QStringLiteral("Tavlin");
constexpr int ConnectTimeoutSeconds = 5;
const char* const SuffixProperty = "captionSuffix";

// Puts an item with a caption of its own in place of action on bar: it runs the action and
// follows its icon, hints and enabled state, while its caption stays the item's. It has no
// name and no menu, so the language file neither numbers nor renames it.
void ShowWithCaption(QWidget* bar, QAction* action, const QString& caption) {
    auto* item = new QAction(caption, bar);
    auto follow = [item, action] {
        item->setIcon(action->icon());
        item->setToolTip(action->toolTip());
        item->setStatusTip(action->statusTip());
        item->setEnabled(action->isEnabled());
        item->setVisible(action->isVisible());
    };
    follow();
    QObject::connect(action, &QAction::changed, item, follow);
    QObject::connect(item, &QAction::triggered, action, &QAction::trigger);
    bar->insertAction(action, item);
    bar->removeAction(action);
}

} // namespace

std::function<bool(const QUrl&)> TfmMain::OpenUrlHook = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

TfmMain::TfmMain(QWidget* parent)
    : QMainWindow(parent),
      Engine(std::make_unique<TSendingEngine>(&IBDatabase, &IBTransaction, static_cast<TSendingView*>(this))),
      ui_(std::make_unique<Ui::fmMain>()) {
    // Dialogs created during creation (the database settings) already reach the window.
    fmMain = this;
    ui_->setupUi(this);
    lvCampaigns = ui_->lvCampaigns;
    lvProcess = ui_->lvProcess;
    lvAPIs = ui_->lvAPIs;
    StatusBar = ui_->StatusBar;
    acSenderStart = ui_->acSenderStart;
    acSenderStop = ui_->acSenderStop;
    acSenderSendToDevice = ui_->acSenderSendToDevice;
    acSenderExit = ui_->acSenderExit;
    acAddFileBased = ui_->acAddFileBased;
    acAddTextBased = ui_->acAddTextBased;
    acAddPromotion = ui_->acAddPromotion;
    acAddWizard = ui_->acAddWizard;
    acCampaignsEdit = ui_->acCampaignsEdit;
    acCampaignsDelete = ui_->acCampaignsDelete;
    acCampaignsRefresh = ui_->acCampaignsRefresh;
    acReportsProcessed = ui_->acReportsProcessed;
    acReportsIgnored = ui_->acReportsIgnored;
    acReportsRejected = ui_->acReportsRejected;
    acBlackListTermorary = ui_->acBlackListTermorary;
    acReportsHistory = ui_->acReportsHistory;
    acReportsDetailsPerCampaigns = ui_->acReportsDetailsPerCampaigns;
    acReportsChart = ui_->acReportsChart;
    acSettingsBlackList = ui_->acSettingsBlackList;
    acSettingsWhiteList = ui_->acSettingsWhiteList;
    acToolsCheckCoupon = ui_->acToolsCheckCoupon;
    acSettingsDatabase = ui_->acSettingsDatabase;
    acToolsSettings = ui_->acToolsSettings;
    acHelpHelp = ui_->acHelpHelp;
    acHelpAbout = ui_->acHelpAbout;

    SetUpDatabaseComponents();
    CampaignList = std::make_unique<TCampaignList>(lvCampaigns, &IBDatabase, &IBTransaction, this);
    SetUpLists();
    SetUpStatusBar();
    SetUpActions();
    SetUpPopupMenu();

    vyrAPI.SetName(u"vyrAPI");
    vyrAPI.AfterLoad = [this](vcl::TObject*) { vyrAPIAfterLoad(); };
    vyrAPI.OnChanged = [this](vcl::TObject*) { vyrAPIChanged(); };

    // The enabling rules run whenever the window is idle, as action update handlers do.
    idle_.setInterval(50);
    connect(&idle_, &QTimer::timeout, this, &TfmMain::UpdateActions);

    FormCreate();
    if (Connected)
        idle_.start();
}

TfmMain::~TfmMain() {
    FormDestroy();
    // The engine and its senders go with the members, before the database they work on.
    if (fmMain == this)
        fmMain = nullptr;
}

void TfmMain::SetUpDatabaseComponents() {
    IBDatabase.SetName(u"IBDatabase");
    IBDatabase.SetSQLDialect(3);
    IBDatabase.SetLoginPrompt(false);
    // A server that does not answer holds the window only this long: an attach a few seconds,
    // any other call (reports may take a while on a large database) a minute; the sending
    // engine bounds its own steps tighter.
    IBDatabase.SetConnectTimeout(ConnectTimeoutSeconds);
    IBDatabase.SetCallTimeout(std::chrono::minutes(1));
    IBTransaction.SetName(u"IBTransaction");
    IBTransaction.SetDefaultDatabase(&IBDatabase);
    IBTransaction.SetParams({"read_committed", "rec_version", "nowait"});
}

void TfmMain::SetUpLists() {
    const std::pair<QTreeWidget*, QList<int>> widths[] = {
        {lvCampaigns, {240, 120, 120, 80}},
        {lvProcess, {150, 120, 100, 100, 200}},
        {lvAPIs, {120, 120, 430}},
    };
    for (const auto& [list, columns] : widths) {
        list->header()->setStretchLastSection(false);
        list->header()->setSectionsMovable(false);
        for (int i = 0; i < columns.size(); ++i)
            list->header()->resizeSection(i, columns[i]);
        SetReportListLook(list);
    }
    connect(lvCampaigns, &QTreeWidget::itemDoubleClicked, this, [this] {
        UpdateActions();
        if (acCampaignsEdit->isEnabled())
            acCampaignsEdit->trigger();
    });
}

void TfmMain::SetUpStatusBar() {
    const int widths[2] = {300, 200};
    for (int i = 0; i < 2; ++i) {
        panels_[i] = new QLabel(StatusBar);
        panels_[i]->setObjectName(QStringLiteral("StatusBarPanel%1").arg(i));
        // At least as wide as designed, wider when a text needs it: a cut state reads as another.
        panels_[i]->setMinimumWidth(widths[i]);
        panels_[i]->setFrameShape(QFrame::StyledPanel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        StatusBar->addWidget(panels_[i]);
    }
}

void TfmMain::Bind(QAction* action, void (TfmMain::*execute)()) {
    connect(action, &QAction::triggered, this, [this, execute] {
        // No exception may cross the event loop: show it as the application's error display would.
        try {
            (this->*execute)();
        } catch (const std::exception& e) {
            ShowException(this, e);
        }
    });
}

void TfmMain::SetUpActions() {
    const std::pair<QAction*, QStyle::StandardPixmap> images[] = {
        {acSenderStart, QStyle::SP_MediaPlay},
        {acSenderStop, QStyle::SP_MediaStop},
        {acSenderSendToDevice, QStyle::SP_ArrowForward},
        {acSenderExit, QStyle::SP_DialogCloseButton},
        {acAddFileBased, QStyle::SP_FileIcon},
        {acAddTextBased, QStyle::SP_FileDialogInfoView},
        {acAddPromotion, QStyle::SP_DesktopIcon},
        {acAddWizard, QStyle::SP_FileDialogNewFolder},
        {acCampaignsEdit, QStyle::SP_FileDialogDetailedView},
        {acCampaignsDelete, QStyle::SP_TrashIcon},
        {acCampaignsRefresh, QStyle::SP_BrowserReload},
        {acSettingsWhiteList, QStyle::SP_DialogApplyButton},
        {acSettingsBlackList, QStyle::SP_DialogCancelButton},
        {acToolsCheckCoupon, QStyle::SP_DialogYesButton},
        {acSettingsDatabase, QStyle::SP_DriveHDIcon},
        {acHelpHelp, QStyle::SP_DialogHelpButton},
        {acHelpAbout, QStyle::SP_MessageBoxInformation},
    };
    for (const auto& [action, pixmap] : images)
        action->setIcon(style()->standardIcon(pixmap));
    // Where the menu or the tool bar names an action its own way.
    ShowWithCaption(ui_->mmAdd, acAddWizard, QStringLiteral("&Wizard..."));
    ShowWithCaption(ui_->mmReports, acReportsChart, QStringLiteral("&Chart"));
    ShowWithCaption(ui_->ActionToolBar, acAddWizard, QStringLiteral("W&izard..."));
    ShowWithCaption(ui_->ActionToolBar, acCampaignsDelete, QStringLiteral("De&lete"));

    Bind(acSenderStart, &TfmMain::acSenderStartExecute);
    Bind(acSenderStop, &TfmMain::acSenderStopExecute);
    Bind(acSenderSendToDevice, &TfmMain::acSenderSendToDeviceExecute);
    Bind(acSenderExit, &TfmMain::acSenderExitExecute);
    Bind(acAddFileBased, &TfmMain::acAddFileBasedExecute);
    Bind(acAddTextBased, &TfmMain::acAddTextBasedExecute);
    Bind(acAddPromotion, &TfmMain::acAddPromotionExecute);
    Bind(acAddWizard, &TfmMain::acAddWizardExecute);
    Bind(acCampaignsEdit, &TfmMain::acCampaignsEditExecute);
    Bind(acCampaignsDelete, &TfmMain::acCampaignsDeleteExecute);
    Bind(acCampaignsRefresh, &TfmMain::acCampaignsRefreshExecute);
    Bind(acReportsProcessed, &TfmMain::acReportsProcessedExecute);
    Bind(acReportsIgnored, &TfmMain::acReportsIgnoredExecute);
    Bind(acReportsRejected, &TfmMain::acReportsRejectedExecute);
    Bind(acBlackListTermorary, &TfmMain::acBlackListTermoraryExecute);
    Bind(acReportsHistory, &TfmMain::acReportsHistoryExecute);
    Bind(acReportsDetailsPerCampaigns, &TfmMain::acReportsDetailsPerCampaignsExecute);
    Bind(acReportsChart, &TfmMain::acReportsChartExecute);
    Bind(acSettingsBlackList, &TfmMain::acSettingsBlackListExecute);
    Bind(acSettingsWhiteList, &TfmMain::acSettingsWhiteListExecute);
    Bind(acToolsCheckCoupon, &TfmMain::acToolsCheckCouponExecute);
    Bind(acSettingsDatabase, &TfmMain::acSettingsDatabaseExecute);
    Bind(acToolsSettings, &TfmMain::acToolsSettingsExecute);
    Bind(acHelpHelp, &TfmMain::acHelpHelpExecute);
    Bind(acHelpAbout, &TfmMain::acHelpAboutExecute);
}

void TfmMain::SetUpPopupMenu() {
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    miAdd = PopupMenu->addMenu(QStringLiteral("Add"));
    miAdd->setObjectName(QStringLiteral("miAdd"));
    miAdd->addActions({acAddFileBased, acAddTextBased, acAddPromotion});
    miAdd->addSeparator();
    miAdd->addAction(acAddWizard);
    PopupMenu->addSeparator();
    PopupMenu->addActions({acCampaignsEdit, acCampaignsDelete});
    PopupMenu->addSeparator();
    PopupMenu->addAction(acCampaignsRefresh);
    PopupMenu->addSeparator();
    Reports1 = PopupMenu->addMenu(QStringLiteral("Reports"));
    Reports1->setObjectName(QStringLiteral("Reports1"));
    Reports1->addActions(
        {acReportsProcessed, acReportsIgnored, acReportsRejected, acBlackListTermorary, acReportsHistory});
    connect(lvCampaigns, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateActions();
        PopupMenu->popup(lvCampaigns->viewport()->mapToGlobal(pos));
    });
}

// ---- creation and destruction ----

void TfmMain::FormCreate() {
    HelpFile = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Tavlin Help.chm"));
    setWindowTitle(ProductName + QStringLiteral(" - Bluetooth Proximity Marketing"));
    // The task bar shows the main window's caption; the platform knows the program by the
    // product name. (A display name would be appended to every dialog's title.)
    QCoreApplication::setApplicationName(ProductName);
    Connected = false;
    LanguageName = QStringLiteral("English");

    ConnectDatabase();
    if (!Connected)
        return;

    IBTransaction.StartTransaction();
    FillInterfaceList();
    vyrAPI.Load();
    LoadCampaigns();
    CreateWorkFolders();
    Engine->Running = false;
    SetStatusPanelText(1, TranslateText(STR_SENDER_STOPPED));
    // Results an earlier run could not record go in before any cycle checks those phones again.
    Engine->WriteKeptResults();
}

void TfmMain::ConnectDatabase() {
    for (;;) {
        const TConnectionSettings settings = ReadConnectionSettings();
        if (settings.hasLanguage)
            LanguageName = settings.language;
        Translator().SetLanguageName(LanguageName);
        IBDatabase.SetDatabaseName(settings.DatabaseName().toStdString());
        IBDatabase.SetParams({"user_name=" + settings.userName.toStdString(),
                              "password=" + settings.password.toStdString(), "lc_ctype=UTF8"});
        QString reason;
        try {
            IBDatabase.Open();
        } catch (const std::exception& e) {
            reason = QString::fromUtf8(e.what());
        }
        if (IBDatabase.Connected()) {
            Connected = true;
            return;
        }
        // The engine's reason first (not a database, no such file, login refused, no answer),
        // then the offer to change the settings.
        if (!WarningYesNo(this, FormatText(TranslateText(STR_DB_OPEN_FAILED), reason) + QStringLiteral("\n\n") +
                                    TranslateText(STR_CONFIG_DATABASE)))
            return;
        TfmDbSettings dialog(this);
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
}

void TfmMain::FillInterfaceList() {
    lvAPIs->clear();
    const QString status = TranslateText(STR_NOT_DETECTED);
    const QString action = TranslateText(STR_STOPPED);
    // Row index = stack kind.
    for (int kind = 0; kind < 4; ++kind)
        new QTreeWidgetItem(lvAPIs, {InterfaceName(kind), status, action});
}

QString TfmMain::AppDataFolder() {
    QString root = qEnvironmentVariable("XDG_DATA_HOME");
    if (root.isEmpty() || !QDir::isAbsolutePath(root))
        root = QDir::homePath() + QStringLiteral("/.local/share");
    QDir().mkpath(root);
    return QDir::cleanPath(root);
}

void TfmMain::CreateWorkFolders() {
    const QString base = AppDataFolder() + QLatin1Char('/') + ProductName;
    QDir().mkpath(base);
    for (int i = 0; i < 4; ++i) {
        const QString folder = base + QLatin1Char('/') + QString::number(i);
        QDir().mkpath(folder);
        SenderFolders[size_t(i)] = folder + QLatin1Char('/');
        Engine->CampaignContent.SetSenderFolder(i, SenderFolders[size_t(i)]);
    }
    Engine->SetDataFolder(base);
}

void TfmMain::FormShow() {
    TranslateForm(this);
}

bool TfmMain::FormCloseQuery() {
    if (!ConfirmYesNo(this, TranslateText(STR_CLOSE_APP)))
        return false;
    acSenderStopExecute();
    return true;
}

void TfmMain::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    idle_.stop();
    // The window is gone: a server that no longer answers holds the ending program only briefly.
    IBDatabase.SetEnding();
    // The senders and the API go first: their last events still reach the database and the lists.
    try {
        if (AnySenderActive())
            StopAllSenders();
        Engine->Running = false;
        if (vyrAPI.IsLoaded())
            vyrAPI.Unload();
        if (IBTransaction.InTransaction() && !Engine->ConnectionLost())
            IBTransaction.Commit();
    } catch (const std::exception& e) {
        qWarning("Closing the station: %s", e.what());
    }
    try {
        if (Engine->ConnectionLost())
            IBDatabase.Abandon();
        else if (IBDatabase.Connected())
            IBDatabase.Close();
    } catch (const std::exception& e) {
        qWarning("Closing the database: %s", e.what());
    }
}

bool TfmMain::event(QEvent* e) {
    // Hints go to the first status panel, as an automatic-hint status bar does.
    if (e->type() == QEvent::StatusTip) {
        panels_[0]->setText(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    }
    return QMainWindow::event(e);
}

void TfmMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!e->spontaneous()) {
        FormShow();
        UpdateActions();
    }
}

void TfmMain::closeEvent(QCloseEvent* e) {
    bool canClose = false;
    try {
        canClose = FormCloseQuery();
    } catch (const std::exception& ex) {
        ShowException(this, ex);
    }
    if (canClose)
        e->accept();
    else
        e->ignore();
}

// ---- texts ----

QString TfmMain::TranslateText(const QString& key, const QString& defaultText) {
    return ::TranslateText(key, defaultText);
}

QString TfmMain::TranslateText(const StrKey& key) {
    return ::TranslateText(key);
}

void TfmMain::SetCaptionSuffix(QLabel* label, const QString& suffix) {
    const QString old = label->property(SuffixProperty).toString();
    QString text = label->text();
    if (!old.isEmpty() && text.endsWith(old))
        text.chop(old.size());
    label->setProperty(SuffixProperty, suffix);
    label->setText(text + suffix);
}

void TfmMain::TranslateForm(QWidget* form) {
    // The language file holds captions as designed; run-time suffixes stay out of it.
    const auto labels = form->findChildren<QLabel*>();
    QList<QPair<QLabel*, QString>> suffixed;
    for (QLabel* l : labels) {
        const QString suffix = l->property(SuffixProperty).toString();
        if (suffix.isEmpty())
            continue;
        QString text = l->text();
        if (text.endsWith(suffix))
            text.chop(suffix.size());
        l->setText(text);
        suffixed.append({l, suffix});
    }
    ::TranslateForm(form);
    for (const auto& [l, suffix] : suffixed)
        l->setText(l->text() + suffix);
}

QString TfmMain::StatusPanelText(int index) const {
    return panels_.at(size_t(index))->text();
}

void TfmMain::SetStatusPanelText(int index, const QString& text) {
    panels_.at(size_t(index))->setText(text);
}

// ---- enabling rules ----

void TfmMain::UpdateActions() {
    acSenderStartUpdate();
    acSenderStopUpdate();
    acSenderSendToDeviceUpdate();
    acCampaignsEditUpdate();
    acCampaignsDeleteUpdate();
    for (QAction* a : {acReportsProcessed, acReportsIgnored, acReportsRejected, acBlackListTermorary, acReportsHistory})
        acCampDetailsUpdate(a);
    acHelpHelpUpdate();
    for (QAction* a : {acSenderExit, acAddFileBased, acAddTextBased, acAddPromotion, acAddWizard, acCampaignsRefresh,
                       acReportsDetailsPerCampaigns, acReportsChart, acSettingsBlackList, acSettingsWhiteList,
                       acToolsCheckCoupon, acSettingsDatabase, acToolsSettings, acHelpAbout})
        acAlwaysEnabledUpdate(a);
}

void TfmMain::acAlwaysEnabledUpdate(QAction* action) {
    action->setEnabled(true);
}

void TfmMain::acSenderStartUpdate() {
    acSenderStart->setEnabled(!Engine->Running && !vyrAPI.BluetoothApis().Empty());
}

void TfmMain::acSenderStopUpdate() {
    acSenderStop->setEnabled(Engine->Running);
}

void TfmMain::acSenderSendToDeviceUpdate() {
    acSenderSendToDevice->setEnabled(!vyrAPI.BluetoothApis().Empty());
}

void TfmMain::acCampaignsEditUpdate() {
    acCampaignsEdit->setEnabled(SelectedCampaign() != nullptr);
}

void TfmMain::acCampaignsDeleteUpdate() {
    acCampaignsDelete->setEnabled(SelectedCampaign() != nullptr);
}

void TfmMain::acCampDetailsUpdate(QAction* action) {
    action->setEnabled(SelectedCampaign() != nullptr);
}

void TfmMain::acHelpHelpUpdate() {
    acHelpHelp->setEnabled(true);
}

QTreeWidgetItem* TfmMain::SelectedCampaign() const {
    const auto selected = lvCampaigns->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

int TfmMain::SelectedCampaignId() const {
    const QTreeWidgetItem* item = SelectedCampaign();
    return item ? item->data(0, Qt::UserRole).toInt() : 0;
}

// ---- campaigns ----

void TfmMain::LoadCampaigns() {
    CampaignList->Refresh();
}
void TfmMain::acAddFileBasedExecute() {
    CampaignList->AddFileBased();
}
void TfmMain::acAddTextBasedExecute() {
    CampaignList->AddTextBased();
}
void TfmMain::acAddPromotionExecute() {
    CampaignList->AddPromotion();
}
void TfmMain::acAddWizardExecute() {
    CampaignList->AddWizard();
}
void TfmMain::acCampaignsEditExecute() {
    if (SelectedCampaign())
        CampaignList->Edit();
}
void TfmMain::acCampaignsDeleteExecute() {
    if (SelectedCampaign())
        CampaignList->Delete();
}
void TfmMain::acCampaignsRefreshExecute() {
    LoadCampaigns();
}

// ---- dialogs and reports ----

void TfmMain::ShowCampaignReport(QDialog& dialog, QLabel* laTitle,
                                 const std::function<void(int campaignId)>& setCampaign) {
    const QTreeWidgetItem* item = SelectedCampaign();
    if (!item)
        return;
    SetCaptionSuffix(laTitle, item->text(0));
    setCampaign(item->data(0, Qt::UserRole).toInt());
    dialog.exec();
}

// A dialog that cannot even be built (the database gone, say) is reported, never thrown into the event loop.
template <typename Dialog, typename... Args> static void RunDialog(QWidget* owner, Args&&... args) {
    try {
        Dialog dialog(std::forward<Args>(args)...);
        dialog.exec();
    } catch (const std::exception& e) {
        ShowException(owner, e);
    }
}

template <typename Report> static void ShowReport(TfmMain& main) {
    try {
        Report dialog(&main.IBDatabase, &main);
        main.ShowCampaignReport(dialog, dialog.laTitle, [&dialog](int id) { dialog.SetCampaign(id); });
    } catch (const std::exception& e) {
        ShowException(&main, e);
    }
}

void TfmMain::acReportsProcessedExecute() {
    ShowReport<TfmAccepted>(*this);
}
void TfmMain::acReportsIgnoredExecute() {
    ShowReport<TfmIgnored>(*this);
}
void TfmMain::acReportsRejectedExecute() {
    ShowReport<TfmRejected>(*this);
}
void TfmMain::acBlackListTermoraryExecute() {
    ShowReport<TfmBl>(*this);
}
void TfmMain::acReportsHistoryExecute() {
    ShowReport<TfmHistory>(*this);
}
void TfmMain::acReportsDetailsPerCampaignsExecute() {
    RunDialog<TfmDetails>(this, &IBDatabase, this);
}
void TfmMain::acReportsChartExecute() {
    RunDialog<TfmChart>(this, &IBDatabase, this);
}
void TfmMain::acSettingsBlackListExecute() {
    RunDialog<TfmBlackList>(this, &IBDatabase, this);
}
void TfmMain::acSettingsWhiteListExecute() {
    RunDialog<TfmWhiteList>(this, &IBDatabase, this);
}
void TfmMain::acToolsCheckCouponExecute() {
    RunDialog<TfmCheckCoupon>(this, &IBDatabase, this);
}
void TfmMain::acToolsSettingsExecute() {
    RunDialog<TfmSettings>(this, &IBDatabase, this);
}
void TfmMain::acSenderSendToDeviceExecute() {
    RunDialog<TfmSendToDevice>(this, this);
}

void TfmMain::acSettingsDatabaseExecute() {
    TfmDbSettings dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    InformationOK(this, TranslateText(STR_RESTART_TO_APPLY));
}

void TfmMain::acSenderExitExecute() {
    close();
}

void TfmMain::acHelpHelpExecute() {
    const QFileInfo help(HelpFile);
    if (!help.isFile()) {
        WarningOK(this,
                  FormatText(TranslateText(STR_NO_HELP_FILE), help.fileName(), QDir::toNativeSeparators(help.path())));
        return;
    }
    OpenUrlHook(QUrl::fromLocalFile(HelpFile));
}

void TfmMain::acHelpAboutExecute() {
    fmSplash = new TfmSplash(this);
    fmSplash->btClose->setVisible(true);
    fmSplash->exec();
    delete fmSplash;
    fmSplash = nullptr;
}
