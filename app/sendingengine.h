// The station's sending engine: four proximity senders, one per radio, whose events ask the
// database which campaign to send, which phones may have it, and record how each push ended.
// It owns no window: what it has to show goes to a view, which the main window is.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"
#include "campaigncontent.h"
#include "keptresults.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrProximitySender.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <chrono>
#include <memory>
#include <vector>

class QWidget;
namespace ibx {
class TIBAttachAttempt;
}

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
    // Results of pushes that ended while the database could not be reached.
    TKeptResults KeptResults;

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
    // While the connection is lost, the wish is kept and sending starts once it is back.
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

    // The station's data folder: results kept while the database was away live there. Reads
    // what an earlier run kept (saying so when the file is damaged).
    void SetDataFolder(const QString& folder);
    // SET_DEVICE for one push result, committed; `atItsTime` records it at the time its push
    // ended rather than now. The result's push key goes with it, so a write repeated after an
    // answer that never came records nothing more.
    void RecordResult(const TKeptResults::TResult& r, bool atItsTime);
    // Records a push result; one the database cannot take yet (the connection lost, another
    // station's transaction in the way) is kept, as is one whose phone has a result kept before.
    void RecordPushResult(const TKeptResults::TResult& r);
    // Records the kept results in order, each once, and forgets them; one the database refuses
    // for good is dropped and named. One a passing conflict stands in the way of stays kept
    // with its phone's later ones, and the others go on. False when some stay kept (the
    // connection went, or a conflict).
    bool WriteKeptResults();

    // The connection to the database was lost and is not back yet.
    bool ConnectionLost() const { return connectionLost_; }
    // A database step met a lost connection: no push starts any more (pushes already under way
    // end, and their results are kept), the operator is told once, and the station attaches
    // again by itself. `message` is the database's.
    void LoseConnection(const QString& message);
    // One quiet try to attach again, made off the window's thread; once attached, the kept
    // results are recorded, the locks the station left are released and, when sending is
    // wanted, the senders start again.
    void Reattach();
    // An attach is under way.
    bool Reattaching() const { return attach_ != nullptr; }
    // How often the station tries to attach again while the connection is lost.
    std::chrono::milliseconds ReattachInterval() const;
    void SetReattachInterval(std::chrono::milliseconds interval);

    // The sender events.
    void vyrProximitySenderStarted(vcl::TObject* sender);
    void vyrProximitySenderDiscoveryStarted(vcl::TObject* sender);
    void vyrProximitySenderAcceptDevice(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device, bool& accept);
    void vyrProximitySenderGetFiles(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device, vyr::TvyrFileList& files);
    void vyrProximitySenderDiscoveryComplete(vcl::TObject* sender);
    void vyrProximitySenderSendStarted(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device);
    void vyrProximitySenderFileSendStarted(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device);
    void vyrProximitySenderSendComplete(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device, int error);
    void vyrProximitySenderStartSleep(vcl::TObject* sender);
    void vyrProximitySenderStopSleep(vcl::TObject* sender);
    void vyrProximitySenderStopped(vcl::TObject* sender);

private:
    void SetUpDatabaseComponents();
    void SetUpSenders();
    void SetSenderAction(vyr::TvyrProximitySender* sender, const QString& text);
    enum class TStepEnd {
        Done,
        Lost,    // the connection is gone, or the server gave no answer in time
        Passing, // another transaction was in the way: tried again later, it goes through
        Refused  // the database will not take it
    };
    // Runs a database step of the engine, each call bounded: the one place that decides what
    // a failure does. A lost connection goes to LoseConnection; any other failure rolls back
    // to the last commit-retaining point and is shown once after the event (or handed back in
    // `refusal`). While the connection is lost it does nothing.
    template <typename Step> TStepEnd DatabaseStep(Step&& step, QString* refusal = nullptr);
    // Gives the sender the radio, configures it and starts it; false when the connection went.
    bool StartSender(vyr::TvyrProximitySender* sender, const vyr::TvyrBluetoothRadio* radio);
    // Stops the sender as soon as no content of its is going out; what has not started
    // going out is withdrawn.
    void Drain(int tag);
    void StopIfDrained(int tag);
    // The attach made by Reattach has ended.
    void AttachFinished();
    void ReattachFailed();
    // Frees the campaigns and devices the radios kept locked through the outage.
    void ReleaseLeftLocks();
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

    bool connectionLost_ = false;
    QString lostMessage_;
    QTimer reattachTimer_;
    std::unique_ptr<ibx::TIBAttachAttempt> attach_;
    // Counts the attempts, so a bound meant for one lets no later one go.
    unsigned attachTries_ = 0;
    // When the connection last came back: a loss soon after is not announced again.
    std::chrono::steady_clock::time_point reattachedAt_{};
    bool announceLoss_ = false;
    // Per sender: devices whose content is going out (from its first byte to the push's end),
    // devices whose content was withdrawn before it went out, and whether the sender is to
    // stop once the former are done.
    std::array<QStringList, 4> putting_;
    std::array<QStringList, 4> withdrawn_;
    std::array<bool, 4> draining_{};
    // Radios whose locks could not be released while the connection was lost.
    QStringList leftLocks_;
};
