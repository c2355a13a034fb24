#include "sendingengine.h"
#include "transactionguard.h"

#include "ibx/IBAttachAttempt.h"

#include "busycursor.h"
#include "msgbox.h"
#include "translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <exception>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// A sender's property takes a byte; SETTINGS holds small integers.
std::uint8_t ToByte(int value, int low) {
    return static_cast<std::uint8_t>(std::clamp(value, low, 255));
}

QString DeviceAddress(const vyr::TvyrBluetoothDevice& device) {
    return QString::fromStdU16String(device.Address());
}

// Adds the time of one database call of the senders to the test hook, when one is set.
class DatabaseClock {
public:
    explicit DatabaseClock(TSendingEngine::TDatabaseTime* time)
        : time_(time), start_(time ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point()) {}
    ~DatabaseClock() {
        if (!time_)
            return;
        time_->Seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        ++time_->Calls;
    }
    DatabaseClock(const DatabaseClock&) = delete;
    DatabaseClock& operator=(const DatabaseClock&) = delete;

private:
    TSendingEngine::TDatabaseTime* time_;
    std::chrono::steady_clock::time_point start_;
};

// Tries for a device's name and class of device; the stack may need a moment for either.
constexpr int DevicePolls = 10;

// A connection lost again this soon after it came back is not announced a second time: a
// server that comes and goes would otherwise raise a box per try.
constexpr std::chrono::seconds QuietAfterReattach{60};

// A database step of the senders that gets no answer this long finds the server gone: the
// window's thread waits for it, so it must not wait for a server that has stopped answering.
constexpr std::chrono::seconds StepTimeout{10};

// The senders' bound on the connection's calls while it lives, the connection's own after.
class TDatabaseBound {
public:
    explicit TDatabaseBound(ibx::TIBDatabase& db) : db_(db), saved_(db.CallTimeout()) {
        db.SetCallTimeout(StepTimeout);
    }
    ~TDatabaseBound() { db_.SetCallTimeout(saved_); }
    TDatabaseBound(const TDatabaseBound&) = delete;
    TDatabaseBound& operator=(const TDatabaseBound&) = delete;

private:
    ibx::TIBDatabase& db_;
    std::chrono::milliseconds saved_;
};

// Rolls back to the last commit-retaining point, so the engine goes on with a transaction; one
// that cannot says nothing new.
void RollbackRetainingQuietly(ibx::TIBTransaction& tr) {
    try {
        if (tr.InTransaction())
            tr.RollbackRetaining();
        else
            tr.StartTransaction();
    } catch (const std::exception& e) {
        qWarning("Rolling back after a sender's database step: %s", e.what());
    }
}

// Status codes of a value a unique index holds already (committed or not) and of a lock conflict.
constexpr long GdsNoDuplicate = 335544349L;  // isc_no_dup
constexpr long GdsLockConflict = 335544345L; // isc_lock_conflict

// The database's timestamp for a local clock reading.
ibx::TDateTime ToDatabaseTime(const QDateTime& local) {
    const QDate d = local.date();
    const QTime t = local.time();
    return {{d.year(), d.month(), d.day()}, {t.hour(), t.minute(), t.second(), t.msec() * 10}};
}

} // namespace

TSendingEngine::TSendingEngine(ibx::TIBDatabase* database, ibx::TIBTransaction* transaction, TSendingView* view,
                               QObject* parent)
    : QObject(parent), CampaignContent(transaction), database_(database), transaction_(transaction), view_(view) {
    SetUpDatabaseComponents();
    SetUpSenders();
    reattachTimer_.setInterval(std::chrono::seconds(3));
    connect(&reattachTimer_, &QTimer::timeout, this, [this] { Reattach(); });
}

TSendingEngine::~TSendingEngine() {
    // An attach under way is left to end by itself; what it brings is dropped.
    attach_.reset();
    // The senders go before the state their events work on; whatever they still report
    // while going is dropped.
    for (auto* s : {&vyrProximitySender1, &vyrProximitySender2, &vyrProximitySender3, &vyrProximitySender4}) {
        if (!*s)
            continue;
        auto& sender = **s;
        sender.OnStarted = sender.OnDiscoveryStarted = sender.OnDiscoveryComplete = sender.OnStartSleep =
            sender.OnStopSleep = sender.OnStopped = sender.OnStartDelay = sender.OnStopDelay = nullptr;
        sender.OnAcceptDevice = nullptr;
        sender.OnGetFiles = nullptr;
        sender.OnSendStarted = nullptr;
        sender.OnFileSendStarted = nullptr;
        sender.OnSendComplete = nullptr;
        s->reset();
    }
}

void TSendingEngine::SetUpDatabaseComponents() {
    const std::pair<ibx::TIBQuery*, const char*> queries[] = {
        {&quGetSettings, "select settings_max_conn, settings_sleep, settings_disc_timeout, settings_connect_timeout, "
                         "settings_delay, settings_name, settings_max_per_dongle from settings;"},
        {&quGetCampName, "select campaigns_name from campaigns where (campaigns_id = :id);"},
    };
    for (const auto& [query, sql] : queries) {
        query->SetDatabase(database_);
        query->SetTransaction(transaction_);
        query->SetSQL(sql);
    }
    quGetSettings.SetName(u"quGetSettings");
    quGetCampName.SetName(u"quGetCampName");
    const std::tuple<ibx::TIBStoredProc*, const char16_t*, const char*> procedures[] = {
        {&spLockCampaign, u"spLockCampaign", "LOCK_CAMPAIGN"},
        {&spUnlockCampaign, u"spUnlockCampaign", "UNLOCK_CAMPAIGN"},
        {&spUnlockAllDevices, u"spUnlockAllDevices", "UNLOCK_ALL_DEVICES"},
        {&spUnlockAllCampaigns, u"spUnlockAllCampaigns", "UNLOCK_ALL_CAMPAIGN"},
        {&spCheckDevice, u"spCheckDevice", "CHECK_DEVICE"},
        {&spSetDevice, u"spSetDevice", "SET_DEVICE"},
    };
    for (const auto& [proc, name, procName] : procedures) {
        proc->SetName(name);
        proc->SetDatabase(database_);
        proc->SetTransaction(transaction_);
        proc->SetStoredProcName(procName);
    }
}

void TSendingEngine::SetUpSenders() {
    vyrBluetoothDiscovery.SetName(u"vyrBluetoothDiscovery");
    std::unique_ptr<vyr::TvyrProximitySender>* senders[] = {&vyrProximitySender1, &vyrProximitySender2,
                                                            &vyrProximitySender3, &vyrProximitySender4};
    for (int tag = 0; tag < 4; ++tag) {
        auto s = std::make_unique<vyr::TvyrProximitySender>();
        s->SetName(u"vyrProximitySender" + std::u16string(1, char16_t(u'1' + tag)));
        s->SetTag(tag);
        s->OnStarted = [this](vcl::TObject* o) { vyrProximitySenderStarted(o); };
        s->OnDiscoveryStarted = [this](vcl::TObject* o) { vyrProximitySenderDiscoveryStarted(o); };
        s->OnAcceptDevice = [this](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, bool& accept) {
            vyrProximitySenderAcceptDevice(o, d, accept);
        };
        s->OnGetFiles = [this](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, vyr::TvyrFileList& files) {
            vyrProximitySenderGetFiles(o, d, files);
        };
        s->OnDiscoveryComplete = [this](vcl::TObject* o) { vyrProximitySenderDiscoveryComplete(o); };
        s->OnSendStarted = [this](vcl::TObject* o, vyr::TvyrBluetoothDevice* d) {
            vyrProximitySenderSendStarted(o, d);
        };
        s->OnFileSendStarted = [this](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, const std::u16string&) {
            vyrProximitySenderFileSendStarted(o, d);
        };
        s->OnSendComplete = [this](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, int error) {
            vyrProximitySenderSendComplete(o, d, error);
        };
        s->OnStartSleep = [this](vcl::TObject* o) { vyrProximitySenderStartSleep(o); };
        s->OnStopSleep = [this](vcl::TObject* o) { vyrProximitySenderStopSleep(o); };
        s->OnStopped = [this](vcl::TObject* o) { vyrProximitySenderStopped(o); };
        *senders[tag] = std::move(s);
    }
}

// ---- helpers ----

QString TSendingEngine::InterfaceName(int kind) {
    switch (kind) {
    case 0:
        return QStringLiteral("BlueSoleil");
    case 1:
        return QStringLiteral("Microsoft");
    case 2:
        return QStringLiteral("Toshiba");
    default:
        return QStringLiteral("WidComm");
    }
}

vyr::TvyrProximitySender* TSendingEngine::Sender(int tag) const {
    switch (tag) {
    case 0:
        return vyrProximitySender1.get();
    case 1:
        return vyrProximitySender2.get();
    case 2:
        return vyrProximitySender3.get();
    case 3:
        return vyrProximitySender4.get();
    default:
        return nullptr;
    }
}

int TSendingEngine::SenderTag(vcl::TObject* sender) const {
    for (int tag = 0; tag < 4; ++tag)
        if (Sender(tag) == sender)
            return tag;
    return -1;
}

bool TSendingEngine::AnySenderActive() const {
    for (int i = 0; i < 4; ++i)
        if (Sender(i) && Sender(i)->Active())
            return true;
    return false;
}

void TSendingEngine::StopAllSenders() {
    for (int i = 0; i < 4; ++i)
        if (Sender(i) && Sender(i)->Active())
            Sender(i)->Stop();
}

vyr::TvyrProximitySender* TSendingEngine::FirstIdleSender() const {
    for (int i = 0; i < 4; ++i)
        if (!Sender(i)->Active())
            return Sender(i);
    return nullptr;
}

bool TSendingEngine::RadioInList(const vyr::TvyrBluetoothRadio* radio, const vyr::TvyrBluetoothRadios& radios) {
    if (!radio)
        return false;
    std::u16string address;
    if (radio->GetAddress(address) != 0)
        return false;
    for (int i = 0; i < radios.Count(); ++i) {
        std::u16string other;
        if (radios[i]->GetAddress(other) == 0 && other == address)
            return true;
    }
    return false;
}

void TSendingEngine::SetSenderAction(vyr::TvyrProximitySender* sender, const QString& text) {
    if (!sender || !sender->SendRadio())
        return;
    const int kind = int(sender->SendRadio()->Api());
    if (kind < 0 || kind > 3)
        return;
    view_->ShowSenderAction(kind, text);
}

void TSendingEngine::ReportSenderError(const QString& text) {
    // The same failure met by every device of a cycle is shown once.
    if (pendingErrors_.contains(text))
        return;
    pendingErrors_.append(text);
    QTimer::singleShot(0, this, [this, text] {
        ErrorOK(view_->MessageOwner(), text);
        pendingErrors_.removeAll(text);
    });
}

template <typename Step> TSendingEngine::TStepEnd TSendingEngine::DatabaseStep(Step&& step, QString* refusal) {
    if (connectionLost_)
        return TStepEnd::Lost;
    const TDatabaseBound bound(*database_);
    const unsigned long cut = database_->CallsCut();
    DatabaseClock clock(SenderDatabaseTime);
    QString message;
    TStepEnd end = TStepEnd::Refused;
    try {
        step();
        return TStepEnd::Done;
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
        end = ibx::IsConnectionLost(e)    ? TStepEnd::Lost
              : ibx::IsPassingConflict(e) ? TStepEnd::Passing
                                          : TStepEnd::Refused;
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    if (end == TStepEnd::Lost) {
        if (database_->CallsCut() != cut)
            message = FormatText(TranslateText(STR_DB_NO_ANSWER), int(StepTimeout.count()));
        // Nothing more can be said to the database: not even the rollback.
        LoseConnection(message);
        return end;
    }
    RollbackRetainingQuietly(*transaction_);
    if (refusal)
        *refusal = message;
    else
        ReportSenderError(message);
    return end;
}

void TSendingEngine::RenewTransaction() {
    DatabaseStep([this] {
        if (transaction_->InTransaction())
            transaction_->Commit();
        transaction_->StartTransaction();
    });
}

int TSendingEngine::SendResult(int error) {
    switch (error) {
    case 0:
        return 0;
    case 32:
    case 46:
    case 47:
    case 114:
    case 117:
        return 2;
    default:
        return 1;
    }
}

QString TSendingEngine::PrepareCampaignFile(int tag, const QString& deviceAddress) {
    if (tag < 0 || tag >= int(SenderSlots.size()))
        return {};
    return CampaignContent.PrepareCampaignFile(tag, SenderSlots[size_t(tag)].CampaignId, deviceAddress);
}

// ---- settings ----

void TSendingEngine::ConfigureSender(vyr::TvyrProximitySender* sender) {
    if (!sender)
        return;
    try {
        quGetSettings.Open();
        if (!quGetSettings.Eof()) {
            auto field = [this](const char* name, int fallback) {
                const ibx::TIBXSQLVAR& f = quGetSettings.FieldByName(name);
                return f.IsNull() ? fallback : f.AsInteger();
            };
            sender->SetMaxConnections(ToByte(field("settings_max_conn", 7), 1));
            sender->SetSleepInterval(ToByte(field("settings_sleep", 5), 1));
            sender->SetDiscoverTimeout(ToByte(field("settings_disc_timeout", 15), 0));
            sender->SetTimeout(ToByte(field("settings_connect_timeout", 20), 1));
            sender->SetSendDelay(ToByte(field("settings_delay", 2), 1));
            const ibx::TIBXSQLVAR& name = quGetSettings.FieldByName("settings_name");
            if (!name.IsNull() && sender->SendRadio())
                sender->SendRadio()->SetName(name.AsWideString());
            MaxPerDongle = std::max(0, field("settings_max_per_dongle", 0));
        }
        quGetSettings.Close();
        transaction_->CommitRetaining();
    } catch (...) {
        try {
            quGetSettings.Close();
            if (transaction_->InTransaction())
                transaction_->RollbackRetaining();
        } catch (const std::exception&) {
        }
        throw;
    }
}

// ---- start, stop and the radios ----

void TSendingEngine::Start() {
    if (connectionLost_) {
        // Remembered: sending starts by itself once the station has attached again.
        Running = true;
        view_->ShowSendingState(TranslateText(STR_DB_WAITING));
        Reattach();
        return;
    }
    vyr::TvyrBluetoothRadios radios;
    const bool listed = vyrBluetoothDiscovery.EnumRadios(&radios) == 0;
    if (!listed || radios.Count() == 0) {
        // A wish kept through an outage ends here: the status bar must not go on waiting.
        if (Running && !AnySenderActive()) {
            Running = false;
            view_->ShowSendingState(TranslateText(STR_SENDER_STOPPED));
        }
        ErrorOK(view_->MessageOwner(), TranslateText(listed ? STR_NO_RADIOS : STR_ENUM_RADIOS_ERROR));
        return;
    }
    for (int i = 0; i < std::min(radios.Count(), 4); ++i)
        if (!Sender(i)->Active() && !StartSender(Sender(i), radios[i]))
            break;
    if (AnySenderActive()) {
        Running = true;
        view_->ShowSendingState(TranslateText(STR_SENDER_RUNNING));
    } else if (connectionLost_) {
        // The connection went while nothing used it: the senders start once it is back.
        Running = true;
        view_->ShowSendingState(TranslateText(STR_DB_WAITING));
    } else {
        Running = false;
        view_->ShowSendingState(TranslateText(STR_SENDER_STOPPED));
        ErrorOK(view_->MessageOwner(), TranslateText(STR_UNABLE_START));
    }
}

bool TSendingEngine::StartSender(vyr::TvyrProximitySender* sender, const vyr::TvyrBluetoothRadio* radio) {
    sender->SetSendRadio(radio);
    sender->SetDiscoveryRadio(radio);
    // A sender that cannot be configured stays idle; the others still start, so whatever
    // runs can be stopped again.
    const TStepEnd end = DatabaseStep([&] { ConfigureSender(sender); });
    if (end == TStepEnd::Done)
        sender->Start();
    return end != TStepEnd::Lost;
}

void TSendingEngine::Stop() {
    StopAllSenders();
    Running = false;
    view_->ShowSendingState(TranslateText(connectionLost_ ? STR_DB_LOST : STR_SENDER_STOPPED));
}

void TSendingEngine::UpdateInterfaces() {
    for (int kind = 0; kind < 4; ++kind)
        view_->ShowInterfaceDetected(kind, false);
    vyr::TvyrBluetoothRadios radios;
    const int enumResult = vyrBluetoothDiscovery.EnumRadios(&radios);
    if (enumResult != 0 || radios.Count() == 0) {
        StopAllSenders();
        return;
    }
    for (int i = 0; i < radios.Count(); ++i) {
        const int kind = int(radios[i]->Api());
        if (kind >= 0 && kind < 4)
            view_->ShowInterfaceDetected(kind, true);
    }
    for (int tag = 0; tag < 4; ++tag) {
        vyr::TvyrProximitySender* s = Sender(tag);
        if (s->Active() && !RadioInList(s->SendRadio(), radios))
            s->Stop();
    }
    // No sender starts while the connection is lost; they all start when it is back.
    if (!Running || connectionLost_)
        return;
    vyr::TvyrBluetoothRadios taken;
    for (int tag = 0; tag < 4; ++tag)
        if (const vyr::TvyrBluetoothRadio* r = Sender(tag)->SendRadio()) {
            auto copy = std::make_unique<vyr::TvyrBluetoothRadio>();
            copy->Assign(r);
            taken.Add(std::move(copy));
        }
    for (int i = 0; i < radios.Count(); ++i) {
        if (RadioInList(radios[i], taken))
            continue;
        vyr::TvyrProximitySender* s = FirstIdleSender();
        if (!s || !StartSender(s, radios[i]))
            break;
    }
}

// ---- the sender events ----

void TSendingEngine::vyrProximitySenderStarted(vcl::TObject* sender) {
    const int tag = SenderTag(sender);
    if (tag < 0)
        return;
    vyr::TvyrProximitySender* s = Sender(tag);
    ++senderRun_[size_t(tag)];
    SetSenderAction(s, TranslateText(STR_RUNNING));
    std::u16string address;
    if (s->SendRadio() && s->SendRadio()->GetAddress(address) != 0)
        address.clear();
    TSenderSlot& slot = SenderSlots[size_t(tag)];
    slot = TSenderSlot();
    slot.DongleMac = QString::fromStdU16String(address);
    // Locks this radio may still hold from an earlier run go; failing that, they age out.
    QString refused;
    for (ibx::TIBStoredProc* unlock : {&spUnlockAllDevices, &spUnlockAllCampaigns})
        DatabaseStep(
            [&] {
                unlock->ParamByName("MAC").SetAsWideString(address);
                unlock->ExecProc();
                transaction_->CommitRetaining();
            },
            &refused);
}

void TSendingEngine::vyrProximitySenderDiscoveryStarted(vcl::TObject* sender) {
    const int tag = SenderTag(sender);
    if (tag < 0)
        return;
    TSenderSlot& slot = SenderSlots[size_t(tag)];
    slot.AcceptedCount = 0;
    const int prevId = slot.CampaignId;
    vyr::TvyrProximitySender* s = Sender(tag);
    // Without a connection the cycle runs without a campaign: every device is refused. So does
    // a cycle whose campaign could not be locked.
    slot.LockId = 0;
    slot.CampaignId = 0;
    QString refused;
    const TStepEnd end = DatabaseStep(
        [&] {
            spLockCampaign.ParamByName("PREV_ID").SetAsInteger(prevId);
            spLockCampaign.ParamByName("MAC").SetAsWideString(slot.DongleMac.toStdU16String());
            spLockCampaign.ExecProc();
            const int lockId = spLockCampaign.ParamByName("ID").AsInteger();
            const int campaignId = spLockCampaign.ParamByName("CAMP_ID").AsInteger();
            transaction_->CommitRetaining();
            slot.LockId = lockId;
            slot.CampaignId = campaignId;
        },
        &refused);
    if (end == TStepEnd::Lost && !s->Active())
        return;
    SetSenderAction(s, TranslateText(STR_DISCOVERING));
    if (s->SendRadio())
        view_->ClearProcessList(int(s->SendRadio()->Api()));
}

void TSendingEngine::vyrProximitySenderAcceptDevice(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device,
                                                    bool& accept) {
    accept = false;
    const int tag = SenderTag(sender);
    if (tag < 0 || !device)
        return;
    vyr::TvyrProximitySender* s = Sender(tag);
    if (SenderSlots[size_t(tag)].CampaignId == 0 || !s->SendRadio())
        return;

    // Pumping below may run any other event, this sender's Stop and Start included, and
    // the library's objects live only until then: work on copies.
    const unsigned run = senderRun_[size_t(tag)];
    auto sameRun = [&] { return s->Active() && senderRun_[size_t(tag)] == run; };
    vyr::TvyrBluetoothRadio radio;
    radio.Assign(s->SendRadio());
    vyr::TvyrBluetoothDevice dev;
    dev.Assign(device);

    std::u16string name;
    for (int i = 0; i < DevicePolls && name.empty(); ++i) {
        if (dev.GetName(&radio, name) != 0)
            name.clear();
        QCoreApplication::processEvents();
        if (!sameRun())
            return;
    }
    int cod = 0;
    for (int i = 0; i < DevicePolls && cod == 0; ++i) {
        if (dev.GetClassOfDevice(&radio, cod) != 0)
            cod = 0;
        QCoreApplication::processEvents();
        if (!sameRun())
            return;
    }

    TSenderSlot& slot = SenderSlots[size_t(tag)];
    if (slot.CampaignId == 0 || slot.AcceptedCount >= MaxPerDongle)
        return;
    int status = -1;
    const QString address = DeviceAddress(dev);
    // A phone whose result waits here is still busy with this station: the database, not
    // knowing the result yet, would accept it again.
    const bool kept = KeptResults.Holds(address);
    if (kept)
        status = 0;
    const TStepEnd checked = kept ? TStepEnd::Done : DatabaseStep([&] {
        spCheckDevice.ParamByName("MAC").SetAsWideString(dev.Address());
        spCheckDevice.ParamByName("NAME").SetAsWideString(name);
        spCheckDevice.ParamByName("COD").SetAsInteger(cod);
        spCheckDevice.ParamByName("MODEL").SetAsString("");
        spCheckDevice.ParamByName("MANUFACTURER").SetAsString("");
        spCheckDevice.ParamByName("CAMPAIGN_ID").SetAsInteger(slot.CampaignId);
        spCheckDevice.ParamByName("DONGLE_MAC").SetAsWideString(slot.DongleMac.toStdU16String());
        try {
            spCheckDevice.ExecProc();
        } catch (const ibx::EIBError& e) {
            // A database made for one code page cannot hold every phone's name: the phone is
            // still served, recorded without a name rather than with an altered one.
            if (!e.CannotTransliterate())
                throw;
            spCheckDevice.ParamByName("NAME").SetAsString("");
            spCheckDevice.ExecProc();
        }
        status = spCheckDevice.ParamByName("STATUS").AsInteger();
        transaction_->CommitRetaining();
    });
    if (checked != TStepEnd::Done)
        return;
    accept = status == 5;

    QString statusText;
    switch (status) {
    case 0:
        statusText = TranslateText(STR_STATUS_BUSY);
        break;
    case 1:
        statusText = TranslateText(STR_STATUS_BLACK_LIST);
        break;
    case 2:
        statusText = TranslateText(STR_STATUS_WHITE_LITS);
        break;
    case 3:
        statusText = TranslateText(STR_STATUS_TEMP_BL);
        break;
    case 4:
        statusText = TranslateText(STR_STATUS_ALREADY_SENT);
        break;
    case 5:
        statusText = TranslateText(STR_STATUS_ACCEPTED);
        break;
    default:
        statusText = TranslateText(STR_STATUS_UNKNOWN);
        break;
    }
    const QString codText =
        QStringLiteral("0x") + QStringLiteral("%1").arg(uint(cod), 8, 16, QLatin1Char('0')).toUpper();
    view_->AddProcessRow(
        {address, QString::fromStdU16String(name), codText, InterfaceName(int(radio.Api())), statusText});
    if (accept)
        ++slot.AcceptedCount;
}

void TSendingEngine::vyrProximitySenderGetFiles(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device,
                                                vyr::TvyrFileList& files) {
    files.clear();
    const int tag = SenderTag(sender);
    if (tag < 0 || !device)
        return;
    const QString address = DeviceAddress(*device);
    QString path;
    {
        // The first phone of a cycle may wait for a large content to be read and written.
        TBusyCursor busy;
        DatabaseStep([&] { path = PrepareCampaignFile(tag, address); });
    }
    if (!path.isEmpty()) {
        files.push_back(path.toStdString());
        return;
    }
    // Accepted, but given nothing: neither a push nor a result follows, and the lock the
    // device check took would keep the phone from every other radio and the campaign from
    // being deleted until it ages out.
    ReleaseDeviceLock(tag, address);
}

void TSendingEngine::ReleaseDeviceLock(int tag, const QString& deviceAddress) {
    const QString dongle = SenderSlots[size_t(tag)].DongleMac;
    ibx::TIBStoredProc spUnlockDevice;
    spUnlockDevice.SetDatabase(database_);
    spUnlockDevice.SetTransaction(transaction_);
    spUnlockDevice.SetStoredProcName("UNLOCK_DEVICE");
    DatabaseStep([&] {
        spUnlockDevice.ParamByName("MAC").SetAsWideString(deviceAddress.toStdU16String());
        spUnlockDevice.ParamByName("DONGLE").SetAsWideString(dongle.toStdU16String());
        spUnlockDevice.ExecProc();
        transaction_->CommitRetaining();
    });
}

void TSendingEngine::vyrProximitySenderDiscoveryComplete(vcl::TObject* sender) {
    const int tag = SenderTag(sender);
    if (tag < 0)
        return;
    const int campaignId = SenderSlots[size_t(tag)].CampaignId;
    QString name;
    if (campaignId > 0) {
        DatabaseStep([&] {
            quGetCampName.ParamByName("id").SetAsInteger(campaignId);
            quGetCampName.Open();
            if (!quGetCampName.Eof())
                name = QString::fromStdU16String(quGetCampName.Fields(0).AsWideString());
            quGetCampName.Close();
            transaction_->CommitRetaining();
        });
        quGetCampName.Close();
    }
    SetSenderAction(Sender(tag), name.isEmpty() ? TranslateText(STR_NO_ACTIVE_CAMPAIGN)
                                                : FormatText(TranslateText(STR_PROCESSING_CAMPAIGN), name));
}

void TSendingEngine::vyrProximitySenderSendStarted(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device) {
    const int tag = SenderTag(sender);
    if (tag < 0 || !device || !Sender(tag)->SendRadio())
        return;
    view_->SetProcessStatus(DeviceAddress(*device), TranslateText(STR_STATUS_SENDING),
                            int(Sender(tag)->SendRadio()->Api()));
}

void TSendingEngine::vyrProximitySenderFileSendStarted(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device) {
    const int tag = SenderTag(sender);
    if (tag < 0 || !device)
        return;
    // From here the phone may have the content before the push ends: such a push is not cut.
    const QString address = DeviceAddress(*device);
    if (!withdrawn_[size_t(tag)].contains(address) && !putting_[size_t(tag)].contains(address))
        putting_[size_t(tag)].append(address);
}

void TSendingEngine::vyrProximitySenderSendComplete(vcl::TObject* sender, vyr::TvyrBluetoothDevice* device, int error) {
    const int tag = SenderTag(sender);
    if (tag < 0 || !device)
        return;
    const QString address = DeviceAddress(*device);
    putting_[size_t(tag)].removeAll(address);
    if (withdrawn_[size_t(tag)].removeAll(address) > 0) {
        // Its content was taken back before any of it went out: nothing reached the phone and
        // nothing is recorded; its lock goes with the radio's.
        StopIfDrained(tag);
        return;
    }
    const int result = SendResult(error);
    if (const vyr::TvyrBluetoothRadio* radio = Sender(tag)->SendRadio())
        view_->SetProcessStatus(address,
                                TranslateText(result == 0   ? STR_STATUS_OK
                                              : result == 2 ? STR_STATUS_REJECTED
                                                            : STR_STATUS_IGNORED),
                                int(radio->Api()));
    // Taken before the step: a lost connection stops the sender inside it, which clears the slot.
    RecordPushResult({address, SenderSlots[size_t(tag)].CampaignId, result, SenderSlots[size_t(tag)].DongleMac,
                      QDateTime::currentDateTime()});
    CampaignContent.DeleteDeviceFile(tag, address);
    StopIfDrained(tag);
}

void TSendingEngine::vyrProximitySenderStartSleep(vcl::TObject* sender) {
    const int tag = SenderTag(sender);
    if (tag < 0)
        return;
    const int lockId = SenderSlots[size_t(tag)].LockId;
    DatabaseStep([&] {
        spUnlockCampaign.ParamByName("ID").SetAsInteger(lockId);
        spUnlockCampaign.ExecProc();
        transaction_->CommitRetaining();
    });
    CampaignContent.EndCycle(tag);
    SetSenderAction(Sender(tag), TranslateText(STR_SLEEPPING));
    // A quiet point: a transaction kept open by commit-retaining alone holds back
    // garbage collection and makes every later decision dearer. Results a passing conflict
    // kept go in too.
    RenewTransaction();
    WriteKeptResults();
}

void TSendingEngine::vyrProximitySenderStopSleep(vcl::TObject* sender) {
    const int tag = SenderTag(sender);
    // The sleep also ends inside Stop; a stopping sender takes no new settings.
    if (tag < 0 || !Sender(tag)->Active())
        return;
    DatabaseStep([&] { ConfigureSender(Sender(tag)); });
}

void TSendingEngine::vyrProximitySenderStopped(vcl::TObject* sender) {
    const int tag = SenderTag(sender);
    if (tag < 0)
        return;
    vyr::TvyrProximitySender* s = Sender(tag);
    ++senderRun_[size_t(tag)];
    SetSenderAction(s, TranslateText(STR_STOPPED));
    TSenderSlot& slot = SenderSlots[size_t(tag)];
    const TStepEnd end = DatabaseStep([&] {
        spUnlockCampaign.ParamByName("ID").SetAsInteger(slot.LockId);
        spUnlockCampaign.ExecProc();
        spUnlockAllDevices.ParamByName("MAC").SetAsWideString(slot.DongleMac.toStdU16String());
        spUnlockAllDevices.ExecProc();
        transaction_->CommitRetaining();
    });
    // Released once the connection is back, after the kept results (which need the devices' locks).
    if (end == TStepEnd::Lost && !slot.DongleMac.isEmpty() && !leftLocks_.contains(slot.DongleMac))
        leftLocks_.append(slot.DongleMac);
    putting_[size_t(tag)].clear();
    withdrawn_[size_t(tag)].clear();
    draining_[size_t(tag)] = false;
    // The local clean-up happens whatever the database said, so the radio can be given out again.
    slot = TSenderSlot();
    if (s->SendRadio())
        view_->ClearProcessList(int(s->SendRadio()->Api()));
    CampaignContent.DeleteSenderFiles(tag);
    try {
        s->SetSendRadio(nullptr);
        s->SetDiscoveryRadio(nullptr);
    } catch (const std::exception& e) {
        ReportSenderError(QString::fromUtf8(e.what()));
    }
}

// ---- a lost connection ----

void TSendingEngine::LoseConnection(const QString& message) {
    if (connectionLost_)
        return;
    connectionLost_ = true;
    lostMessage_ = message;
    // Nothing more is said on it: whatever else of the window would use it fails at once
    // instead of waiting on a server that may not answer.
    database_->Cut();
    const auto now = std::chrono::steady_clock::now();
    // Said once the first try to attach again has failed: a connection that only went stale
    // while nothing used it comes back without a word.
    announceLoss_ =
        reattachedAt_ == std::chrono::steady_clock::time_point() || now - reattachedAt_ >= QuietAfterReattach;
    view_->ShowSendingState(TranslateText(STR_DB_LOST));
    for (int tag = 0; tag < 4; ++tag)
        Drain(tag);
    reattachTimer_.start();
    // Not from inside the step that met the loss: its statements are still in use.
    QTimer::singleShot(0, this, [this] { Reattach(); });
}

void TSendingEngine::Drain(int tag) {
    vyr::TvyrProximitySender* s = Sender(tag);
    if (!s || !s->Active())
        return;
    // Content not yet going out is taken back, so those pushes end without reaching the phone;
    // a push whose content is going out may already have reached it, so it ends as it will and
    // its result is kept.
    std::vector<TCampaignContent::TPreparedFile> files = CampaignContent.SentFiles();
    for (const auto& f : files)
        if (f.Tag == tag && !putting_[size_t(tag)].contains(f.Address)) {
            CampaignContent.DeleteDeviceFile(tag, f.Address);
            // A file that stays goes out after all, and its result is kept like the others.
            if (!QFileInfo::exists(f.Path))
                withdrawn_[size_t(tag)].append(f.Address);
        }
    draining_[size_t(tag)] = true;
    StopIfDrained(tag);
}

void TSendingEngine::StopIfDrained(int tag) {
    vyr::TvyrProximitySender* s = Sender(tag);
    if (s && draining_[size_t(tag)] && putting_[size_t(tag)].isEmpty() && s->Active())
        s->Stop();
}

void TSendingEngine::Reattach() {
    if (!connectionLost_ || attach_)
        return;
    // Pushes still going out end first: their results are kept with the others.
    for (int tag = 0; tag < 4; ++tag)
        if (draining_[size_t(tag)] && Sender(tag)->Active())
            return;
    // The old connection's handles are given back without a word to the server: it has
    // forgotten them, or does not answer.
    database_->Abandon();
    // Off the window's thread: a server that does not answer holds only the attempt, and one
    // that overstays the connect time-out is let go (it ends by itself) and counts as failed.
    try {
        attach_ = std::make_unique<ibx::TIBAttachAttempt>(*database_, [this] {
            QMetaObject::invokeMethod(
                this, [this] { AttachFinished(); }, Qt::QueuedConnection);
        });
    } catch (const std::exception&) {
        ReattachFailed();
        return;
    }
    if (database_->ConnectTimeout() <= 0 || !database_->Remote())
        return;
    QTimer::singleShot(std::chrono::seconds(database_->ConnectTimeout()), this, [this, attempt = ++attachTries_] {
        if (!attach_ || attempt != attachTries_ || attach_->Finished())
            return;
        attach_.reset();
        ReattachFailed();
    });
}

void TSendingEngine::ReattachFailed() {
    database_->Abandon();
    if (announceLoss_)
        ReportSenderError(FormatText(TranslateText(STR_DB_LOST_INFO), lostMessage_));
    // The loss is said once; each failed try is not.
    announceLoss_ = false;
}

void TSendingEngine::AttachFinished() {
    const std::unique_ptr<ibx::TIBAttachAttempt> attempt = std::move(attach_);
    if (!attempt || !connectionLost_)
        return;
    try {
        attempt->Complete(*database_);
        const TDatabaseBound bound(*database_);
        transaction_->StartTransaction();
    } catch (const std::exception&) {
        ReattachFailed();
        return;
    }
    connectionLost_ = false;
    announceLoss_ = false;
    lostMessage_.clear();
    reattachTimer_.stop();
    reattachedAt_ = std::chrono::steady_clock::now();
    // Before anything else: a new cycle would check the same phones again.
    if (!WriteKeptResults() && connectionLost_)
        return;
    ReleaseLeftLocks();
    if (connectionLost_)
        return;
    if (Running)
        Start();
    else
        view_->ShowSendingState(TranslateText(STR_SENDER_STOPPED));
}

std::chrono::milliseconds TSendingEngine::ReattachInterval() const {
    return reattachTimer_.intervalAsDuration();
}

void TSendingEngine::SetReattachInterval(std::chrono::milliseconds interval) {
    reattachTimer_.setInterval(interval);
}

void TSendingEngine::ReleaseLeftLocks() {
    while (!leftLocks_.isEmpty()) {
        const QString dongle = leftLocks_.first();
        if (DatabaseStep([&] {
                spUnlockAllDevices.ParamByName("MAC").SetAsWideString(dongle.toStdU16String());
                spUnlockAllDevices.ExecProc();
                spUnlockAllCampaigns.ParamByName("MAC").SetAsWideString(dongle.toStdU16String());
                spUnlockAllCampaigns.ExecProc();
                transaction_->CommitRetaining();
            }) == TStepEnd::Lost)
            return;
        // Refused otherwise: the locks age out as the database decides.
        leftLocks_.removeFirst();
    }
}

void TSendingEngine::SetDataFolder(const QString& folder) {
    KeptResults.SetFileName(QDir(folder).filePath(QStringLiteral("kept-results.txt")));
    const QString problem = KeptResults.Load();
    if (!problem.isEmpty())
        ReportSenderError(FormatText(TranslateText(STR_KEPT_DAMAGED), problem));
}

void TSendingEngine::RecordResult(const TKeptResults::TResult& r, bool atItsTime) {
    spSetDevice.ParamByName("MAC").SetAsWideString(r.Mac.toStdU16String());
    spSetDevice.ParamByName("CAMPAIGN_ID").SetAsInteger(r.CampaignId);
    spSetDevice.ParamByName("RESULT").SetAsInteger(r.Result);
    spSetDevice.ParamByName("DONGLE").SetAsWideString(r.Dongle.toStdU16String());
    // A database of an earlier schema takes no time and records the result as of now.
    if (ibx::TIBXSQLVAR* time = spSetDevice.FindParam("DATE_TIME")) {
        if (atItsTime && r.Time.isValid())
            time->SetAsDateTime(ToDatabaseTime(r.Time));
        else
            time->Clear();
    }
    // The same key on every write: a write whose answer was lost may have been recorded, and
    // the database then records nothing more. Neither an earlier schema nor a result kept by an
    // earlier version has one.
    const QString pushKey = TKeptResults::PushKey(r);
    ibx::TIBXSQLVAR* key = spSetDevice.FindParam("PUSH_KEY");
    if (key && pushKey.isEmpty())
        key->Clear();
    else if (key)
        key->SetAsWideString(pushKey.toStdU16String());
    try {
        spSetDevice.ExecProc();
    } catch (const ibx::EIBError& e) {
        // The key stored but not committed is this push's earlier write, its transaction still
        // open on a connection the server has not yet let go: in the way for now, as a lock would
        // be. The next write finds it committed (and records nothing) or gone (and records it).
        if (!key || pushKey.isEmpty() || !e.HasGDSCode(GdsNoDuplicate))
            throw;
        std::vector<long> codes = e.GDSCodes();
        codes.push_back(GdsLockConflict);
        throw ibx::EIBError(e.what(), e.SQLCode(), e.IBErrorCode(), std::move(codes), e.ExceptionName());
    }
    transaction_->CommitRetaining();
}

void TSendingEngine::RecordPushResult(const TKeptResults::TResult& r) {
    // Results kept earlier go first, so the database sees a phone's results in the order its
    // pushes ended; one still kept holds back only its own phone's.
    WriteKeptResults();
    QString refusal;
    if (!KeptResults.Holds(r.Mac)) {
        const TStepEnd end = DatabaseStep([&] { RecordResult(r, false); }, &refusal);
        if (end == TStepEnd::Done)
            return;
        if (end == TStepEnd::Refused) {
            ReportSenderError(refusal);
            return;
        }
    }
    // The push happened; its result waits for the database, with the time it ended.
    const QString problem = KeptResults.Add(r);
    if (!problem.isEmpty())
        ReportSenderError(FormatText(TranslateText(STR_KEEP_FAILED), problem));
}

bool TSendingEngine::WriteKeptResults() {
    QStringList refused;
    // Phones with a result something stood in the way of: their later results wait behind it.
    QStringList waiting;
    for (size_t i = 0; i < KeptResults.Results().size();) {
        const TKeptResults::TResult r = KeptResults.Results()[i];
        if (waiting.contains(r.Mac, Qt::CaseInsensitive)) {
            ++i;
            continue;
        }
        QString refusal;
        const TStepEnd end = DatabaseStep([&] { RecordResult(r, true); }, &refusal);
        if (end == TStepEnd::Lost)
            break;
        if (end == TStepEnd::Passing) {
            // Kept, and tried again with the next write; the others go on.
            waiting << r.Mac;
            ++i;
            continue;
        }
        // Refused for good (its campaign is gone, say): named below, and dropped.
        if (end == TStepEnd::Refused)
            refused << TKeptResults::Line(r).replace(QLatin1Char('\t'), QLatin1Char(' ')) + QStringLiteral(": ") +
                           refusal;
        const QString problem = KeptResults.Remove(i);
        if (!problem.isEmpty())
            ReportSenderError(FormatText(TranslateText(STR_KEEP_FAILED), problem));
    }
    if (!refused.isEmpty())
        ReportSenderError(FormatText(TranslateText(STR_KEPT_REFUSED), refused.join(QLatin1Char('\n'))));
    return KeptResults.Empty();
}
