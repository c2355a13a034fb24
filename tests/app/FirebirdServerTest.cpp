// Several stations on one database server: station processes, each with its own simulated air
// holding the same twenty phones, serve one campaign through a private server.
#include "AirPhones.h"
#include "PrivateServer.h"
#include "QtTestApp.h"
#include "StationHome.h"
#include "StationSettings.h"
#include "TcpRelay.h"
#include "TestDatabase.h"
#include "main.h"
#include "msgbox.h"
#include "qt/MessageBridge.h"
#include "sim/air/Air.h"
#include "sim/win32/Testing.h"

#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace {

constexpr int kShared = 20;
constexpr int kCampaign = 7;

std::string SharedPhone(int i) {
    char s[32];
    std::snprintf(s, sizeof s, "(00:1E:3A:00:00:%02X)", i);
    return s;
}
std::string OwnPhone(int radio, int i) {
    char s[32];
    std::snprintf(s, sizeof s, "(00:1E:3A:%02X:00:%02X)", radio, i);
    return s;
}

// One station process and what it said.
class Station {
public:
    // `via`: the server setting when the station reaches its server through a relay.
    Station(const tavlin::test::PrivateServer& server, const QString& home, int radio, int own, int delayMs,
            int slowFinalMs, const std::string& via = {})
        : radio_(radio), home_(home), inbox_(home + "/inbox") {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Its own registry, work folders and virtual ports, as on a machine of its own.
        for (const char* name : {"TAVLIN_REGISTRY_DIR", "XDG_DATA_HOME", "TAVLIN_COM_DIR"}) {
            QDir().mkpath(home + "/" + name);
            env.insert(name, home + "/" + name);
        }
        proc_.setProcessEnvironment(env);
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start(QStringLiteral(TAVLIN_TEST_STATION),
                    {QString::fromStdString(via.empty() ? server.Server() : via), QString::fromStdString(server.Path()),
                     tavlin::test::PrivateServer::Password(), QString::number(radio, 16), QString::number(own), inbox_,
                     QString::number(delayMs), QString::number(slowFinalMs)});
    }
    ~Station() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }

    // Reads what arrived so far.
    const std::vector<std::string>& Lines() {
        proc_.waitForReadyRead(0);
        while (proc_.canReadLine())
            lines_.push_back(proc_.readLine().trimmed().toStdString());
        return lines_;
    }
    int Count(const std::string& prefix, size_t from = 0) {
        int n = 0;
        const auto& lines = Lines();
        for (size_t i = from; i < lines.size(); ++i)
            n += lines[i].rfind(prefix, 0) == 0;
        return n;
    }
    // The index of the first line at or after `from` that starts with prefix; the line count when none.
    size_t Find(const std::string& prefix, size_t from = 0) {
        const auto& lines = Lines();
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0)
                return i;
        return lines.size();
    }
    bool Said(const std::string& line) {
        for (const auto& l : Lines())
            if (l == line)
                return true;
        return false;
    }
    // Stops sending and waits for the process to end; false when it did not end well.
    bool Stop() {
        proc_.write("stop\n");
        proc_.closeWriteChannel();
        const bool ended = proc_.waitForFinished(30000);
        Lines();
        while (proc_.canReadLine())
            lines_.push_back(proc_.readLine().trimmed().toStdString());
        const QByteArray rest = proc_.readAll().trimmed();
        if (!rest.isEmpty())
            lines_.push_back(rest.toStdString());
        return ended && proc_.exitStatus() == QProcess::NormalExit && proc_.exitCode() == 0 && Said("stopped");
    }
    // Ends the process at once, as a crash or a power cut would.
    void Kill() {
        ::kill(static_cast<pid_t>(proc_.processId()), SIGKILL);
        proc_.waitForFinished(10000);
    }
    int Received(const std::string& phone) const {
        return int(
            QDir(inbox_ + "/" + QString::fromStdString(tavtest::AddressFolder(phone))).entryList(QDir::Files).size());
    }
    std::string Output() {
        std::ostringstream s;
        for (const auto& l : Lines())
            s << "  " << l << "\n";
        return s.str();
    }
    int Radio() const { return radio_; }
    // The file a station keeps the results in that the database could not take.
    QString KeptFile() const { return home_ + "/XDG_DATA_HOME/Tavlin/kept-results.txt"; }
    std::string Dongle() const {
        char s[32];
        std::snprintf(s, sizeof s, "(00:11:22:33:44:%02X)", radio_);
        return s;
    }

private:
    int radio_;
    QString home_;
    QString inbox_;
    QProcess proc_;
    std::vector<std::string> lines_;
};

class FirebirdServer : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        ASSERT_TRUE(home.isValid());
        ASSERT_NO_THROW(server = std::make_unique<tavlin::test::PrivateServer>());
        conn = server->Connect();
        tr.SetDefaultDatabase(conn.get());
        tr.StartTransaction();
        // One promotion with coupons instead of the demo campaign; every phone accepts, pushes
        // start at once and a cycle's sleep is short.
        Exec("delete from CAMPAIGNS");
        Exec("update SETTINGS set SETTINGS_MAX_CONN = 4, SETTINGS_SLEEP = 1, SETTINGS_DISC_TIMEOUT = 1, "
             "SETTINGS_CONNECT_TIMEOUT = 255, SETTINGS_DELAY = 1, SETTINGS_MAX_PER_DONGLE = 100, "
             "SETTINGS_USE_BL = 0, SETTINGS_USE_WL = 0, SETTINGS_REJECT_RETRY = 5, SETTINGS_IGNORE_RETRY = 5");
        Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
             "CAMPAIGNS_ENABLED, CAMPAIGNS_FILE_NAME, CAMPAIGNS_VALIGN, CAMPAIGNS_HALIGN, CAMPAIGNS_USE_COUPON, "
             "CAMPAIGNS_MESSAGE, CAMPAIGNS_FONT_NAME, CAMPAIGNS_FONT_SIZE, CAMPAIGNS_FONT_STYLE, "
             "CAMPAIGNS_FONT_COLOR, CAMPAIGNS_VALID_IN) values (" +
             std::to_string(kCampaign) + ", 'Coupon', 2, 0, 1, 'promo.jpg', 1, 1, 1, '10% off', 'Sans', 10, 1, 0, 48)");
    }
    void TearDown() override {
        stations.clear();
        if (tr.InTransaction())
            tr.Commit();
        conn.reset();
        server.reset();
    }

    Station& StartStation(int radio, int own, int delayMs, int slowFinalMs = 0, const std::string& via = {}) {
        const QString dir = home.filePath("station" + QString::number(radio, 16));
        stations.push_back(std::make_unique<Station>(*server, dir, radio, own, delayMs, slowFinalMs, via));
        return *stations.back();
    }
    void Exec(const std::string& sql) { tavlin::test::ExecCommitted(tr, sql); }
    // The server goes away and comes back; the test's own connection goes and comes with it.
    void StopServer() {
        tr.Commit();
        conn.reset();
        server->Stop();
    }
    void StartServer() {
        server->Start();
        conn = server->Connect();
        tr.SetDefaultDatabase(conn.get());
        tr.StartTransaction();
    }
    // A station whose server goes while a push is under way, held there by the phone's slow answer
    // to its final PUT; away counts from then.
    Station& StationLosingItsServer(QElapsedTimer& away) {
        // Long enough for a loaded machine's server to take its time ending.
        Station& a = StartStation(0xA1, 0, 200, 10000);
        EXPECT_TRUE(WaitFor([&] { return a.Said("putting " + SharedPhone(1)); })) << a.Output();
        StopServer();
        away.start();
        EXPECT_TRUE(WaitFor([&] { return a.Said("outage"); }, 15000)) << a.Output();
        return a;
    }
    // The phones whose push results the station keeps for the database, as its file lists them.
    static std::set<std::string> KeptPushes(const Station& s) {
        std::set<std::string> kept;
        QFile file(s.KeptFile());
        if (!file.open(QIODevice::ReadOnly))
            return kept;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty() && !line.startsWith('#'))
                kept.insert(line.left(line.indexOf('\t')).toStdString());
        return kept;
    }
    // Every shared phone received the campaign exactly once, and exactly that is recorded.
    void ExpectEveryPhoneServedOnceAndRecorded(const std::vector<Station*>& all) {
        for (int i = 1; i <= kShared; ++i) {
            const std::string phone = SharedPhone(i);
            int received = 0;
            for (Station* s : all)
                received += s->Received(phone);
            EXPECT_EQ(received, 1) << phone;
            EXPECT_EQ(Processed(phone), received) << phone;
        }
        EXPECT_EQ(Count("select count(*) from HISTORY"), kShared);
        EXPECT_EQ(Count("select count(distinct PROCESSED_COUPON) from PROCESSED"), kShared);
        EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 0);
        EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), 0);
    }
    int Count(const std::string& sql) {
        tr.CommitRetaining(); // read what the stations committed since
        ibx::TIBQuery q;
        q.SetTransaction(&tr);
        q.SetSQL(sql);
        q.Open();
        const int n = q.Eof() ? 0 : q.Fields(0).AsInteger();
        q.Close();
        return n;
    }
    std::set<std::string> Strings(const std::string& sql) {
        tr.CommitRetaining();
        ibx::TIBQuery q;
        q.SetTransaction(&tr);
        q.SetSQL(sql);
        std::set<std::string> out;
        for (q.Open(); !q.Eof(); q.Next())
            out.insert(q.Fields(0).AsString());
        q.Close();
        return out;
    }
    int Processed(const std::string& phone) {
        return Count("select count(*) from PROCESSED p join DEVICES d on d.DEVICES_ID = p.PROCESSED_DEVICES_ID "
                     "where d.DEVICES_MAC = '" +
                     phone + "' and p.PROCESSED_CAMPAIGNS_ID = " + std::to_string(kCampaign));
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 40000) { return QTest::qWaitFor(done, ms); }
    // The longest time the station's event loop was away, from its line `from` on.
    static qint64 LongestAway(Station& s, size_t from = 0) {
        qint64 away = 0;
        for (size_t i = from; i < s.Lines().size(); ++i)
            if (s.Lines()[i].rfind("away ", 0) == 0)
                away = std::max<qint64>(away, std::stoll(s.Lines()[i].substr(5)));
        return away;
    }
    // A station in this process whose settings name `serverSetting` for the fixture's database.
    void WriteStationSettings(const std::string& serverSetting) {
        ASSERT_TRUE(
            tavtest::WriteDbSettings(QString::fromStdString(server->Path()), QString::fromStdString(serverSetting)));
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(SettingsKeyPath().toStdU16String(), false));
        reg.WriteString(u"Password", u"quandorel");
        reg.CloseKey();
    }

    QTemporaryDir home;
    std::unique_ptr<tavlin::test::PrivateServer> server;
    std::unique_ptr<ibx::TIBDatabase> conn;
    ibx::TIBTransaction tr;
    std::vector<std::unique_ptr<Station>> stations;
};

} // namespace

TEST_F(FirebirdServer, TwoStationsServeEachSharedPhoneOnce) {
    Station& a = StartStation(0xA1, 3, 20);
    Station& b = StartStation(0xB2, 3, 20);
    const int phones = kShared + 3 + 3;
    // Several cycles each, and every phone served.
    const bool done = WaitFor([&] {
        return a.Count("cycle") >= 3 && b.Count("cycle") >= 3 && Count("select count(*) from PROCESSED") >= phones;
    });
    ASSERT_TRUE(a.Stop()) << a.Output();
    ASSERT_TRUE(b.Stop()) << b.Output();
    ASSERT_TRUE(done) << Count("select count(*) from PROCESSED") << "\nA:\n" << a.Output() << "B:\n" << b.Output();
    EXPECT_TRUE(a.Said("connected") && b.Said("connected"));

    // No station met an error, a lock conflict least of all.
    EXPECT_EQ(a.Count("error"), 0) << a.Output();
    EXPECT_EQ(b.Count("error"), 0) << b.Output();

    // Each shared phone: accepted, pushed and received exactly once across both stations; the
    // other station found it busy or already served.
    const std::set<std::string> allowed{"Accepted", "Busy by other interface", "Already processed"};
    int busy = 0;
    for (int i = 1; i <= kShared; ++i) {
        const std::string phone = SharedPhone(i);
        int accepted = 0, sent = 0;
        for (Station* s : {&a, &b})
            for (const auto& l : s->Lines()) {
                if (l.rfind("check " + phone + " ", 0) == 0) {
                    const std::string status = l.substr(7 + phone.size());
                    EXPECT_TRUE(allowed.count(status)) << l;
                    accepted += status == "Accepted";
                    busy += status == "Busy by other interface";
                }
                sent += l == "sent " + phone + " 0";
            }
        EXPECT_EQ(accepted, 1) << phone;
        EXPECT_EQ(sent, 1) << phone;
        EXPECT_EQ(a.Received(phone) + b.Received(phone), 1) << phone;
        EXPECT_EQ(Processed(phone), 1) << phone;
    }
    // Each station's own phones were served by it alone.
    for (Station* s : {&a, &b})
        for (int i = 1; i <= 3; ++i) {
            EXPECT_EQ(s->Received(OwnPhone(s->Radio(), i)), 1);
            EXPECT_EQ(Processed(OwnPhone(s->Radio(), i)), 1);
        }

    // HISTORY: one success per phone and campaign, nothing else.
    EXPECT_EQ(Count("select count(*) from HISTORY"), phones);
    EXPECT_EQ(Count("select count(*) from (select HISTORY_DEVICES_ID from HISTORY where HISTORY_RESULT = 0 and "
                    "HISTORY_CAMPAIGNS_ID = " +
                    std::to_string(kCampaign) +
                    " group by HISTORY_DEVICES_ID "
                    "having count(*) = 1)"),
              phones);
    // Every push carried a coupon of its own.
    EXPECT_EQ(Count("select count(*) from PROCESSED where PROCESSED_COUPON is not null"), phones);
    EXPECT_EQ(Count("select count(distinct PROCESSED_COUPON) from PROCESSED"), phones);
    // Both stopped cleanly: no lock left behind.
    EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 0);
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), 0);
    RecordProperty("busy", busy);
}

TEST_F(FirebirdServer, SimultaneousChecksGiveBusyNotALockConflict) {
    // Two stations' connections check the same phones at the same moment: the first holds its
    // uncommitted lock (and, for a new phone, its uncommitted device row) while the second asks.
    auto conn2 = server->Connect();
    ibx::TIBTransaction tr2;
    tr2.SetDefaultDatabase(conn2.get());
    tr2.StartTransaction();
    ibx::TIBStoredProc check1, check2, set1;
    check1.SetTransaction(&tr);
    check1.SetStoredProcName("CHECK_DEVICE");
    check2.SetTransaction(&tr2);
    check2.SetStoredProcName("CHECK_DEVICE");
    set1.SetTransaction(&tr);
    set1.SetStoredProcName("SET_DEVICE");
    auto check = [](ibx::TIBStoredProc& sp, const std::string& phone, const char* dongle) {
        sp.ParamByName("MAC").SetAsString(phone);
        sp.ParamByName("NAME").SetAsString("phone");
        sp.ParamByName("COD").SetAsInteger(0x5A020C);
        sp.ParamByName("MODEL").SetAsString("");
        sp.ParamByName("MANUFACTURER").SetAsString("");
        sp.ParamByName("CAMPAIGN_ID").SetAsInteger(kCampaign);
        sp.ParamByName("DONGLE_MAC").SetAsString(dongle);
        sp.ExecProc();
        return sp.ParamByName("STATUS").AsInteger();
    };
    const char* const d1 = "(00:11:22:33:44:A1)";
    const char* const d2 = "(00:11:22:33:44:B2)";
    Exec("insert into DEVICES (DEVICES_MAC, DEVICES_COUNT) values ('" + SharedPhone(2) + "', 1)");
    for (int i : {1, 2}) { // 1: a phone never seen before; 2: a known one
        const std::string phone = SharedPhone(i);
        ASSERT_EQ(check(check1, phone, d1), 5) << phone;
        int status = -1;
        EXPECT_NO_THROW(status = check(check2, phone, d2)) << phone;
        EXPECT_EQ(status, 0) << phone;
        tr2.CommitRetaining();
        tr.CommitRetaining();
        // Committed, the lock still keeps the other station off.
        EXPECT_EQ(check(check2, phone, d2), 0) << phone;
        tr2.CommitRetaining();
        set1.ParamByName("MAC").SetAsString(phone);
        set1.ParamByName("CAMPAIGN_ID").SetAsInteger(kCampaign);
        set1.ParamByName("RESULT").SetAsInteger(0);
        set1.ParamByName("DONGLE").SetAsString(d1);
        set1.ExecProc();
        tr.CommitRetaining();
        EXPECT_EQ(check(check2, phone, d2), 4) << phone;
        tr2.CommitRetaining();
        EXPECT_EQ(Processed(phone), 1) << phone;
    }
    tr2.Commit();
}

TEST_F(FirebirdServer, KilledStationsLocksExpireAndTheOtherServesItsPhones) {
    // Slow phones, so the kill finds pushes under way.
    Station& a = StartStation(0xA1, 0, 400);
    ASSERT_TRUE(WaitFor([&] { return a.Count("sending") >= 2; })) << a.Output();
    a.Kill();
    const std::set<std::string> locked = Strings(
        "select DEVICE_LOCKS_DEVICE_MAC from DEVICE_LOCKS where DEVICE_LOCKS_DONGLE_MAC = '" + a.Dongle() + "'");
    ASSERT_FALSE(locked.empty());
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS where CAMPAIGN_LOCKS_DONGLE_MAC = '" + a.Dongle() + "'"), 1);

    // While the dead station's locks are fresh, the other station serves every other phone and
    // finds those busy.
    Station& b = StartStation(0xB2, 2, 20);
    const int others = kShared + 2 - int(locked.size());
    ASSERT_TRUE(WaitFor([&] {
        return Count("select count(*) from PROCESSED") >= others &&
               b.Count("check " + *locked.begin() + " Busy by other interface") >= 1;
    })) << b.Output();
    for (const auto& phone : locked)
        EXPECT_EQ(Processed(phone), 0) << phone;

    // Ten minutes on, as far as the procedures can tell, the locks are dead and the phones are served.
    Exec("update DEVICE_LOCKS set DEVICE_LOCKS_LOCK_TIME = dateadd(-11 minute to current_timestamp) "
         "where DEVICE_LOCKS_DONGLE_MAC = '" +
         a.Dongle() + "'");
    ASSERT_TRUE(WaitFor([&] { return Count("select count(*) from PROCESSED") >= kShared + 2; })) << b.Output();
    ASSERT_TRUE(b.Stop()) << b.Output();
    for (const auto& phone : locked) {
        EXPECT_EQ(Processed(phone), 1) << phone;
        EXPECT_TRUE(b.Said("sent " + phone + " 0")) << phone;
    }
    for (int i = 1; i <= kShared; ++i)
        EXPECT_EQ(Processed(SharedPhone(i)), 1) << i;
    EXPECT_EQ(b.Count("error"), 0) << b.Output();
    EXPECT_EQ(Count("select count(*) from HISTORY where HISTORY_RESULT <> 0"), 0);
    EXPECT_EQ(Count("select count(distinct PROCESSED_COUPON) from PROCESSED"), kShared + 2);
}

TEST_F(FirebirdServer, StationRidesOutAServerOutageAndRecordsEveryPush) {
    // The station sees the connection go, lets the pushes under way end and sends no more.
    QElapsedTimer away;
    Station& a = StationLosingItsServer(away);
    ASSERT_TRUE(a.Said("outage")) << a.Output();
    const size_t idle = a.Find("outage");
    QTest::qWait(int(std::max<qint64>(0, 20000 - away.elapsed())));
    EXPECT_EQ(a.Count("sending", idle), 0) << a.Output();
    EXPECT_EQ(a.Count("cycle", idle), 0) << a.Output();
    const std::set<std::string> kept = KeptPushes(a);
    EXPECT_FALSE(kept.empty());

    StartServer();
    QElapsedTimer back;
    back.start();
    ASSERT_TRUE(WaitFor([&] { return a.Count("sending", idle) > 0; }, 30000)) << a.Output();
    const qint64 resumedMs = back.elapsed();
    EXPECT_LT(resumedMs, 10000) << a.Output();
    ASSERT_TRUE(WaitFor([&] { return Count("select count(*) from PROCESSED") >= kShared; })) << a.Output();
    ASSERT_TRUE(a.Stop()) << a.Output();

    ExpectEveryPhoneServedOnceAndRecorded({&a});
    const int boxes = a.Count("error");
    EXPECT_GE(boxes, 1) << a.Output();
    EXPECT_LE(boxes, 2) << a.Output();
    EXPECT_FALSE(QFile::exists(a.KeptFile()));
    RecordProperty("resumed_ms", int(resumedMs));
    RecordProperty("boxes", boxes);
    RecordProperty("kept", int(kept.size()));
}

TEST_F(FirebirdServer, ResultsKeptByAClosedStationAreRecordedAtItsNextStart) {
    QElapsedTimer away;
    Station& a = StationLosingItsServer(away);
    ASSERT_TRUE(a.Said("outage")) << a.Output();
    // The operator closes the program while the server is away.
    ASSERT_TRUE(a.Stop()) << a.Output();
    const std::set<std::string> kept = KeptPushes(a);
    ASSERT_FALSE(kept.empty()) << a.Output();
    for (const auto& phone : kept)
        EXPECT_EQ(a.Received(phone), 1) << phone;
    ASSERT_TRUE(QFile::exists(a.KeptFile()));
    QTest::qWait(int(std::max<qint64>(0, 20000 - away.elapsed())));

    StartServer();
    for (const auto& phone : kept)
        EXPECT_EQ(Processed(phone), 0) << phone;
    // Started again on the same machine: what it kept is recorded before its first cycle, so
    // none of those phones is accepted again.
    Station& b = StartStation(0xA1, 0, 200);
    ASSERT_TRUE(WaitFor([&] { return Count("select count(*) from PROCESSED") >= kShared; })) << b.Output();
    ASSERT_TRUE(b.Stop()) << b.Output();
    for (const auto& phone : kept) {
        EXPECT_EQ(b.Count("check " + phone + " Accepted"), 0) << phone;
        EXPECT_EQ(Processed(phone), 1) << phone;
    }
    ExpectEveryPhoneServedOnceAndRecorded({&b});
    EXPECT_FALSE(QFile::exists(b.KeptFile()));
    EXPECT_LE(a.Count("error"), 2) << a.Output();
    EXPECT_EQ(b.Count("error"), 0) << b.Output();
    RecordProperty("kept", int(kept.size()));
    RecordProperty("boxes_before_close", a.Count("error"));
}

TEST_F(FirebirdServer, StartWhileTheServerIsAwayIsKeptUntilItIsBack) {
    // A station in this process, stopped while the server goes away.
    tavtest::StationHome station;
    WriteStationSettings(server->Server());
    win::MessageBridge::Install();
    air::Air::Instance().Clear();
    tavtest::PlugRadio(1, 0x51);
    TMessageBoxScript boxes;
    {
        TfmMain w;
        ASSERT_TRUE(w.Connected);
        w.Engine->SetReattachInterval(std::chrono::milliseconds(200));
        StopServer();

        // Start meets the lost connection: the wish is kept and said, the loss said once.
        w.acSenderStart->trigger();
        EXPECT_TRUE(w.Engine->Running);
        EXPECT_FALSE(w.AnySenderActive());
        EXPECT_EQ(w.StatusPanelText(1), "Waiting for the database to start sending");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.Asked().empty(); }, 15000));
        // Back, sending starts by itself.
        StartServer();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.AnySenderActive(); }, 15000));
        EXPECT_FALSE(w.Engine->ConnectionLost());
        EXPECT_EQ(w.StatusPanelText(1), "Sender is running");

        // While it sends, the server goes again, so soon that no second box says so.
        air::Air::Instance().SetTimeScale(0.02);
        win::test::SetTimeScale(50);
        w.Engine->SetReattachInterval(std::chrono::hours(1));
        StopServer();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.Engine->ConnectionLost() && !w.AnySenderActive(); }, 20000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.Engine->Reattaching(); }, 15000));
        w.acSenderStop->trigger();
        EXPECT_FALSE(w.Engine->Running);
        EXPECT_EQ(w.StatusPanelText(1), "Database connection lost, reconnecting");
        // A Start meanwhile is kept, and a Stop drops it again.
        w.UpdateActions();
        w.acSenderStart->trigger();
        EXPECT_TRUE(w.Engine->Running);
        EXPECT_EQ(w.StatusPanelText(1), "Waiting for the database to start sending");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.Engine->Reattaching(); }, 15000));
        w.UpdateActions();
        w.acSenderStop->trigger();
        // Back, the locks the radio held through the outage go, and sending stays off.
        StartServer();
        Exec("insert into DEVICE_LOCKS (DEVICE_LOCKS_DEVICE_MAC, DEVICE_LOCKS_DONGLE_MAC, DEVICE_LOCKS_CAMPAIGNS_ID, "
             "DEVICE_LOCKS_LOCK_TIME) values ('" +
             SharedPhone(1) + "', '(00:11:22:33:44:51)', " + std::to_string(kCampaign) + ", current_timestamp)");
        w.Engine->Reattach();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.Engine->ConnectionLost(); }, 15000));
        EXPECT_FALSE(w.Engine->Running);
        EXPECT_FALSE(w.AnySenderActive());
        EXPECT_EQ(w.StatusPanelText(1), "Sender is stopped");
        EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 0);
        EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), 0);
    }
    win::test::SetTimeScale(1);
    air::Air::Instance().SetTimeScale(1);
    air::Air::Instance().Clear();
    ASSERT_EQ(boxes.Asked().size(), 1u);
    EXPECT_TRUE(boxes.Asked()[0].text.startsWith("The connection to the database was lost: "))
        << boxes.Asked()[0].text.toStdString();

    // A program closed while its server does not answer ends within seconds.
    auto closing = std::make_unique<TfmMain>();
    ASSERT_TRUE(closing->Connected);
    server->Freeze();
    QElapsedTimer took;
    took.start();
    closing.reset();
    server->Thaw();
    EXPECT_LT(took.elapsed(), 8000);
}

TEST_F(FirebirdServer, StationStaysLiveWhileItsServerDoesNotAnswer) {
    // The server stops answering (its port still takes connections) while a push is under way.
    Station& a = StartStation(0xA1, 0, 200, 6000);
    ASSERT_TRUE(WaitFor([&] { return a.Said("putting " + SharedPhone(1)); })) << a.Output();
    const size_t from = a.Lines().size();
    server->Freeze();
    QTest::qWait(30000);
    QElapsedTimer stop;
    stop.start();
    const bool stopped = a.Stop();
    const qint64 stopMs = stop.elapsed();
    const qint64 away = LongestAway(a, from);
    server->Thaw();
    ASSERT_TRUE(stopped) << a.Output();
    EXPECT_LT(stopMs, 20000) << a.Output();
    // Only a step waiting for its bound holds the window.
    EXPECT_LT(away, 12000) << a.Output();

    // Sending again with the server back: what was kept is recorded, and nothing goes twice.
    Station& b = StartStation(0xA1, 0, 20);
    ASSERT_TRUE(WaitFor([&] { return Count("select count(*) from PROCESSED") >= kShared; })) << b.Output();
    ASSERT_TRUE(b.Stop()) << b.Output();
    ExpectEveryPhoneServedOnceAndRecorded({&b});
    RecordProperty("away_ms", int(away));
    RecordProperty("stop_ms", int(stopMs));
}

TEST_F(FirebirdServer, AThinLineToTheServerSendsALargeFileCampaign) {
    // 3 MB through a line passing 150 KB/s: the content alone takes twenty seconds to read.
    Exec("update CAMPAIGNS set CAMPAIGNS_TYPE = 0, CAMPAIGNS_FILE_NAME = 'catalogue.bin', CAMPAIGNS_USE_COUPON = 0");
    {
        ibx::TIBQuery q;
        q.SetTransaction(&tr);
        q.SetSQL("update CAMPAIGNS set CAMPAIGNS_DATA = :data");
        q.ParamByName("data").SetAsString(std::string(3 << 20, 'c'));
        q.ExecSQL();
        tr.CommitRetaining();
    }
    tavlin::test::TcpRelay relay(server->Port());
    Station& a = StartStation(0xA1, 0, 20, 0, relay.Server());
    ASSERT_TRUE(WaitFor([&] { return a.Said("connected"); })) << a.Output();
    relay.SetThrottle(150000);
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(WaitFor([&] { return a.Said("sent " + SharedPhone(1) + " 0"); }, 60000)) << a.Output();
    const qint64 firstPushMs = took.elapsed();
    ASSERT_TRUE(WaitFor([&] { return Processed(SharedPhone(1)) == 1; })) << a.Output();
    relay.SetThrottle(0);
    ASSERT_TRUE(a.Stop()) << a.Output();
    EXPECT_EQ(a.Count("outage"), 0) << a.Output();
    EXPECT_EQ(a.Count("error"), 0) << a.Output();
    EXPECT_EQ(Count("select count(*) from HISTORY where HISTORY_RESULT <> 0"), 0);
    const QString inbox =
        home.filePath("stationa1/inbox/" + QString::fromStdString(tavtest::AddressFolder(SharedPhone(1))));
    const QStringList got = QDir(inbox).entryList(QDir::Files);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(QFileInfo(inbox + "/" + got[0]).size(), 3 << 20);
    RecordProperty("first_push_ms", int(firstPushMs));
}

TEST_F(FirebirdServer, AServerGoneBehindAnOpenLineHoldsNeitherTheWindowNorTheEnd) {
    // The server ends while results are written; the line to it stays open and carries nothing
    // more, as when a server host goes down.
    tavlin::test::TcpRelay relay(server->Port());
    relay.KeepStationSideOpen(true);
    Station& a = StartStation(0xA1, 0, 200, 6000, relay.Server());
    ASSERT_TRUE(WaitFor([&] { return a.Said("putting " + SharedPhone(1)); })) << a.Output();
    // The server tells the station its connection is gone, then its process ends.
    Exec("delete from MON$ATTACHMENTS where MON$ATTACHMENT_ID <> current_connection and MON$SYSTEM_FLAG = 0");
    ASSERT_TRUE(WaitFor([&] { return a.Said("state Database connection lost, reconnecting"); }, 20000)) << a.Output();
    StopServer();
    ASSERT_TRUE(WaitFor([&] { return a.Said("outage"); }, 20000)) << a.Output();
    const size_t idle = a.Find("outage");
    QTest::qWait(3000);
    StartServer();
    ASSERT_TRUE(WaitFor([&] { return a.Count("sending", idle) > 0; }, 30000)) << a.Output();
    const qint64 away = LongestAway(a);
    EXPECT_LT(away, 10000) << a.Output();

    // Closed while it sends and the server has just gone silent, it ends at once.
    server->Freeze();
    QTest::qWait(1000);
    QElapsedTimer stop;
    stop.start();
    const bool stopped = a.Stop();
    const qint64 stopMs = stop.elapsed();
    server->Thaw();
    EXPECT_TRUE(stopped) << a.Output();
    EXPECT_LT(stopMs, 2000) << a.Output();
    for (int i = 1; i <= kShared; ++i)
        EXPECT_LE(a.Received(SharedPhone(i)), 1) << i;
    RecordProperty("away_ms", int(away));
    RecordProperty("stop_ms", int(stopMs));
}

TEST_F(FirebirdServer, AnAttachAnsweredOnlyAtFirstIsGivenUpWithinItsBound) {
    tavtest::StationHome station;
    tavlin::test::TcpRelay relay(server->Port());
    WriteStationSettings(relay.Server());
    TMessageBoxScript boxes;
    boxes.Answer(TMsgResult::No);
    // At start-up: the failed open's question names the reason.
    relay.PassFirstAnswers(1);
    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(TfmMain().Connected);
    EXPECT_LT(took.elapsed(), 7000);
    ASSERT_EQ(boxes.Asked().size(), 1u);
    EXPECT_TRUE(boxes.Asked()[0].text.contains("did not answer within 5 seconds"))
        << boxes.Asked()[0].text.toStdString();
    relay.PassFirstAnswers(-1);
    TfmMain w;
    ASSERT_TRUE(w.Connected);

    // At re-attach: given up as well, and the next try attaches once the line passes everything.
    // No later try until the first has been given up.
    w.Engine->SetReattachInterval(std::chrono::hours(1));
    relay.PassFirstAnswers(1);
    w.Engine->LoseConnection("gone");
    took.restart();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.Engine->Reattaching(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.Engine->Reattaching(); }, 7000));
    EXPECT_LT(took.elapsed(), 7000);
    EXPECT_TRUE(w.Engine->ConnectionLost());
    relay.PassFirstAnswers(-1);
    w.Engine->SetReattachInterval(std::chrono::milliseconds(200));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.Engine->ConnectionLost(); }, 15000));
}

TEST_F(FirebirdServer, APushWhoseCommitAnswerIsLostIsRecordedOnceWithItsCoupon) {
    tavtest::StationHome station;
    tavlin::test::TcpRelay relay(server->Port());
    WriteStationSettings(relay.Server());
    TMessageBoxScript boxes;
    const std::string dongle = "(00:11:22:33:44:51)";
    for (int i : {1, 2})
        Exec("insert into DEVICE_LOCKS (DEVICE_LOCKS_DEVICE_MAC, DEVICE_LOCKS_DONGLE_MAC, DEVICE_LOCKS_CAMPAIGNS_ID, "
             "DEVICE_LOCKS_LOCK_TIME, DEVICE_LOCKS_COUPON) values ('" +
             SharedPhone(i) + "', '" + dongle + "', " + std::to_string(kCampaign) + ", current_timestamp, " +
             std::to_string(1000 + i) + ")");
    TfmMain w;
    ASSERT_TRUE(w.Connected);
    w.Engine->SetReattachInterval(std::chrono::milliseconds(200));
    auto push = [&](int i) {
        w.Engine->RecordPushResult({QString::fromStdString(SharedPhone(i)), kCampaign, 0,
                                    QString::fromStdString(dongle), QDateTime::currentDateTime()});
    };
    push(1);
    // The second result's commit reaches the server; its answer, slowed on the way, is held from
    // the moment the row is committed until well past the step's bound.
    std::thread watch([&] {
        auto db = server->Connect();
        ibx::TIBTransaction t;
        t.SetDefaultDatabase(db.get());
        t.SetParams({"read_committed", "rec_version", "nowait"});
        t.StartTransaction();
        ibx::TIBQuery q;
        q.SetTransaction(&t);
        q.SetSQL("select count(*) from HISTORY");
        for (int n = 0, polls = 0; n < 2 && polls < 3000; ++polls) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            q.Open();
            n = q.Fields(0).AsInteger();
            q.Close();
        }
        relay.Hold();
        std::this_thread::sleep_for(std::chrono::seconds(13));
        relay.Release();
        t.Commit();
    });
    relay.SetThrottle(100);
    push(2);
    relay.SetThrottle(0);
    EXPECT_TRUE(w.Engine->ConnectionLost());
    EXPECT_EQ(w.Engine->KeptResults.Results().size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.Engine->ConnectionLost() && w.Engine->KeptResults.Empty(); }, 30000));
    watch.join();
    for (int i : {1, 2}) {
        EXPECT_EQ(Count("select count(*) from HISTORY h join DEVICES d on d.DEVICES_ID = h.HISTORY_DEVICES_ID "
                        "where d.DEVICES_MAC = '" +
                        SharedPhone(i) + "'"),
                  1)
            << i;
        EXPECT_EQ(Processed(SharedPhone(i)), 1) << i;
        EXPECT_EQ(Count("select count(*) from PROCESSED where PROCESSED_COUPON = " + std::to_string(1000 + i)), 1) << i;
    }
}
