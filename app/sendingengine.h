// The station's sending engine: four proximity senders, one per radio, whose events ask the
// database which campaign to send, which phones may have it, and record how each push ended.
// It owns no window: what it has to show goes to a view, which the main window is.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"
#include "campaigncontent.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrProximitySender.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <vector>

class QWidget;

// Per-sender state, indexed by the sender's Tag.
struct TSenderSlot {
    int CampaignId = 0;
    int LockId = 0;
    QString DongleMac;
    int AcceptedCount = 0;
};

// What the engine shows. Interfaces are numbered by stack kind (0 BlueSoleil, 1 Microsoft,
// 2 Toshiba, 3 WidComm).
class TSendingView {
public:
    virtual ~TSendingView() = default;
    // Owner of the engine's message boxes; null for none.
    virtual QWidget* MessageOwner() { return nullptr; }
    // The interface list: whether the stack's radio is there, what its sender does.
    virtual void ShowInterfaceDetected(int kind, bool detected) = 0;
    virtual void ShowSenderAction(int kind, const QString& text) = 0;
    // The process list: one row per device and interface (address, name, class of device,
    // interface, status).
    virtual void AddProcessRow(const QStringList& columns) = 0;
    virtual void SetProcessStatus(const QString& mac, const QString& text, int kind) = 0;
    virtual void ClearProcessList(int kind) = 0;
    // Whether the senders run, in words.
    virtual void ShowSendingState(const QString& text) = 0;
};

class TSendingEngine : public QObject {
    Q_OBJECT

public:
    // The database and transaction are the station's and must outlive the engine.
    TSendingEngine(ibx::TIBDatabase* database, ibx::TIBTransaction* transaction, TSendingView* view,
                   QObject* parent = nullptr);
    ~TSendingEngine() override;
    TSendingEngine(const TSendingEngine&) = delete;
    TSendingEngine& operator=(const TSendingEngine&) = delete;

    // The senders' database steps.
    ibx::TIBQuery quGetSettings, quGetCampName;
    ibx::TIBStoredProc spLockCampaign, spUnlockCampaign, spUnlockAllDevices, spUnlockAllCampaigns, spCheckDevice,
        spSetDevice;
    // Lists the radios; the senders run their own discoveries.
    vyr::TvyrBluetoothDiscovery vyrBluetoothDiscovery;
    // One sender per radio, Tag 0 to 3.
    std::unique_ptr<vyr::TvyrProximitySender> vyrProximitySender1, vyrProximitySender2, vyrProximitySender3,
        vyrProximitySender4;
    // The content of the pushes, on the station's transaction.
    TCampaignContent CampaignContent;

    bool Running = false;
    int MaxPerDongle = 0;
    std::array<TSenderSlot, 4> SenderSlots;

    // Test hook: when set, the senders' database calls (procedures, queries, commits) add
    // their time and count here.
    struct TDatabaseTime {
        double Seconds = 0;
        long Calls = 0;
    };
    TDatabaseTime* SenderDatabaseTime = nullptr;

    // Gives each radio found an idle sender and starts it; says so when none could start.
    void Start();
    // Stops every sender.
    void Stop();
    // Follows the radios: marks the interfaces, stops the senders whose radio went and, while
    // running, gives a new radio an idle sender.
    void UpdateInterfaces();
    void StopAllSenders();
    bool AnySenderActive() const;
    vyr::TvyrProximitySender* Sender(int tag) const;
    vyr::TvyrProximitySender* FirstIdleSender() const;
    // Applies SETTINGS to the sender (values outside a property's range are brought into it)
    // and names its radio. Throws on a database error, after rolling back.
    void ConfigureSender(vyr::TvyrProximitySender* sender);
    static bool RadioInList(const vyr::TvyrBluetoothRadio* radio, const vyr::TvyrBluetoothRadios& radios);
    static QString InterfaceName(int kind);
    // The push result recorded for a library error code: 0 success, 2 rejected, 1 ignored.
    static int SendResult(int error);

    // Content of the senders' pushes: a file per sender and device, written into the sender's
    // work folder and removed when the push has ended.
    QString PrepareCampaignFile(int tag, const QString& deviceAddress);

    // Shows a failure once, after the event that met it has finished: a box raised inside a
    // sender's event would run the senders' events inside it.
    void ReportSenderError(const QString& text);

    // The sender events.
    void vyrProximitySenderStarted(vcl::TObject* sender);
    void vyrProximitySenderDiscoveryStarted(vcl::TObject* sender);
    void vyrProximitySenderAcceptDevice(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device, bool& accept);
    void vyrProximitySenderGetFiles(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device, vyr::TvyrFileList& files);
    void vyrProximitySenderDiscoveryComplete(vcl::TObject* sender);
    void vyrProximitySenderSendStarted(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device);
    void vyrProximitySenderSendComplete(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device, int error);
    void vyrProximitySenderStartSleep(vcl::TObject* sender);
    void vyrProximitySenderStopSleep(vcl::TObject* sender);
    void vyrProximitySenderStopped(vcl::TObject* sender);

private:
    void SetUpDatabaseComponents();
    void SetUpSenders();
    void SetSenderAction(vyr::TvyrProximitySender* sender, const QString& text);
    // Runs a database step of a sender's event: on failure it rolls back to the last
    // commit-retaining point, reports the error and returns false.
    template <typename Step> bool SenderStep(Step&& step);
    int SenderTag(vcl::TObject* sender) const;
    // Frees a device the sender accepted but gives nothing to push; records no result.
    void ReleaseDeviceLock(int tag, const QString& deviceAddress);
    // Ends the transaction and begins a new one, so its record versions do not pile up.
    void RenewTransaction();

    ibx::TIBDatabase* database_;
    ibx::TIBTransaction* transaction_;
    TSendingView* view_;
    // Bumped whenever a sender starts or stops: an event that pumped messages checks that
    // its sender is still in the same run before it goes on.
    std::array<unsigned, 4> senderRun_{};
    QStringList pendingErrors_;
};
