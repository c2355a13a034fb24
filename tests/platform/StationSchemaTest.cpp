// The station's stored procedures on a fresh database: campaign rotation and
// schedules, the order of the device status codes, results and retries, coupons,
// campaign storage and the lists.
#include "TestDatabase.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <utility>

using namespace ibx;
using tavlin::test::DatabaseSuite;

namespace {

const char* const kDongleA = "(00:00:00:00:00:0A)";
const char* const kDongleB = "(00:00:00:00:00:0B)";

class StationSchema : public DatabaseSuite {
protected:
    void SetUp() override {
        // Every test starts from empty tables and the seeded settings.
        for (const char* t : {"CAMPAIGN_LOCKS", "DEVICE_LOCKS", "PROCESSED", "REJECTED", "IGNORED", "WORK_BLACK_LIST",
                              "HISTORY", "WHITE_LIST", "BLACK_LIST", "DEVICES", "CAMPAIGNS"})
            Exec(std::string("delete from ") + t);
        Exec("update SETTINGS set SETTINGS_USE_BL = 0, SETTINGS_USE_WL = 0, SETTINGS_BL_TIMEOUT = 24, "
             "SETTINGS_REJECT_RETRY = 3, SETTINGS_IGNORE_RETRY = 3");
    }

    static int AddCampaign(const std::string& name, int schedule = 0, int enabled = 1, int type = 0) {
        return Call("ADD_CAMPAIGN", {{"CAMPAIGNS_NAME", name},
                                     {"CAMPAIGNS_SCHEDULE", schedule},
                                     {"CAMPAIGNS_TYPE", type},
                                     {"CAMPAIGNS_ENABLED", enabled},
                                     {"CAMPAIGNS_FILE_NAME", "f.txt"},
                                     {"CAMPAIGNS_DATA", TBytes{1, 2, 3}}})
            .ParamByName("CAMPAIGNS_ID")
            .AsInteger();
    }

    static std::pair<int, int> Lock(int prev, const char* dongle = kDongleA) {
        auto& sp = Call("LOCK_CAMPAIGN", {{"PREV_ID", prev}, {"MAC", dongle}});
        return {sp.ParamByName("ID").AsInteger(), sp.ParamByName("CAMP_ID").AsInteger()};
    }

    static int Check(const std::string& mac, int campaign, const char* dongle = kDongleA,
                     const std::string& name = "Phone", int cod = 0x5A020C) {
        return Call("CHECK_DEVICE", {{"MAC", mac},
                                     {"NAME", name},
                                     {"COD", cod},
                                     {"MODEL", ""},
                                     {"MANUFACTURER", ""},
                                     {"CAMPAIGN_ID", campaign},
                                     {"DONGLE_MAC", dongle}})
            .ParamByName("STATUS")
            .AsInteger();
    }

    static void Set(const std::string& mac, int campaign, int result, const char* dongle = kDongleA) {
        Call("SET_DEVICE", {{"MAC", mac}, {"CAMPAIGN_ID", campaign}, {"RESULT", result}, {"DONGLE", dongle}});
    }

    static int Count(const std::string& sql) { return Scalar(sql).AsInteger(); }

    // Whether a campaign runs at a given moment (LOCK_CAMPAIGN asks the same with the current time).
    static int InSchedule(int id, const char* at) {
        return Scalar(std::string("select CAMPAIGN_IN_SCHEDULE(") + std::to_string(id) + ", timestamp '" + at +
                      "') from RDB$DATABASE")
            .AsInteger();
    }
};

TEST_F(StationSchema, SchedulesByDateRangeAndWeekdays) {
    const int always = AddCampaign("always", 0);
    const int range = AddCampaign("range", 1);
    Exec("update CAMPAIGNS set CAMPAIGNS_START_DATE = '2024-03-01', CAMPAIGNS_START_TIME = '09:00', "
         "CAMPAIGNS_END_DATE = '2024-03-05', CAMPAIGNS_END_TIME = '17:00' where CAMPAIGNS_ID = " +
         std::to_string(range));
    EXPECT_EQ(InSchedule(always, "2030-01-01 03:00"), 1);
    EXPECT_EQ(InSchedule(range, "2024-03-01 08:59:59"), 0);
    EXPECT_EQ(InSchedule(range, "2024-03-01 09:00"), 1);
    EXPECT_EQ(InSchedule(range, "2024-03-03 23:00"), 1); // the range is continuous, not daily
    EXPECT_EQ(InSchedule(range, "2024-03-05 17:00"), 1);
    EXPECT_EQ(InSchedule(range, "2024-03-05 17:00:01"), 0);
    EXPECT_EQ(InSchedule(99999, "2024-03-03 12:00"), 0);

    // 2024-03-04 is a Monday. Mondays and Wednesdays, 08:00 to 18:00.
    const int days = AddCampaign("days", 2);
    Exec("update CAMPAIGNS set CAMPAIGNS_DAYS_MON = 1, CAMPAIGNS_DAYS_WED = 1, CAMPAIGNS_START_TIME = '08:00', "
         "CAMPAIGNS_END_TIME = '18:00', CAMPAIGNS_START_DATE = '2000-01-01', CAMPAIGNS_END_DATE = '2000-01-02' "
         "where CAMPAIGNS_ID = " +
         std::to_string(days));
    EXPECT_EQ(InSchedule(days, "2024-03-04 08:00"), 1); // dates do not restrict weekdays
    EXPECT_EQ(InSchedule(days, "2024-03-04 18:00:01"), 0);
    EXPECT_EQ(InSchedule(days, "2024-03-05 12:00"), 0); // Tuesday
    EXPECT_EQ(InSchedule(days, "2024-03-06 12:00"), 1);
    EXPECT_EQ(InSchedule(days, "2024-03-10 12:00"), 0); // Sunday
    // Equal times: the whole day.
    Exec("update CAMPAIGNS set CAMPAIGNS_END_TIME = '08:00' where CAMPAIGNS_ID = " + std::to_string(days));
    EXPECT_EQ(InSchedule(days, "2024-03-04 23:30"), 1);
    EXPECT_EQ(InSchedule(days, "2024-03-05 00:30"), 0);
    // Over midnight, Monday 22:00 to 02:00: the small hours belong to Monday's window.
    Exec("update CAMPAIGNS set CAMPAIGNS_DAYS_WED = 0, CAMPAIGNS_START_TIME = '22:00', CAMPAIGNS_END_TIME = '02:00' "
         "where CAMPAIGNS_ID = " +
         std::to_string(days));
    EXPECT_EQ(InSchedule(days, "2024-03-04 23:00"), 1);
    EXPECT_EQ(InSchedule(days, "2024-03-05 01:59"), 1);
    EXPECT_EQ(InSchedule(days, "2024-03-05 02:01"), 0);
    EXPECT_EQ(InSchedule(days, "2024-03-04 01:00"), 0); // Sunday night is not in
    EXPECT_EQ(InSchedule(days, "2024-03-04 21:59"), 0);
}

TEST_F(StationSchema, LockCampaignRotatesThroughEligibleCampaigns) {
    EXPECT_EQ(Lock(0), std::make_pair(0, 0)); // no campaign at all

    const int a = AddCampaign("a");
    const int off = AddCampaign("disabled", 0, 0);
    const int b = AddCampaign("b", 1); // in range now
    Exec("update CAMPAIGNS set CAMPAIGNS_START_DATE = current_date - 1, CAMPAIGNS_END_DATE = current_date + 1 "
         "where CAMPAIGNS_ID = " +
         std::to_string(b));
    const int past = AddCampaign("past", 1);
    Exec("update CAMPAIGNS set CAMPAIGNS_START_DATE = current_date - 10, CAMPAIGNS_END_DATE = current_date - 5 "
         "where CAMPAIGNS_ID = " +
         std::to_string(past));
    const int c = AddCampaign("c");
    ASSERT_LT(a, off);
    ASSERT_LT(b, c);

    auto [l1, c1] = Lock(0);
    EXPECT_EQ(c1, a);
    auto [l2, c2] = Lock(c1);
    EXPECT_EQ(c2, b);
    auto [l3, c3] = Lock(c2);
    EXPECT_EQ(c3, c);
    auto [l4, c4] = Lock(c3);
    EXPECT_EQ(c4, a); // wraps round
    EXPECT_EQ(Lock(off).second, b);
    EXPECT_TRUE(l1 > 0 && l2 > l1 && l3 > l2 && l4 > l3);
    // A radio holds one lock; another radio may send the same campaign.
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), 1);
    auto [lb, cb] = Lock(0, kDongleB);
    EXPECT_EQ(cb, a);
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), 2);

    // Unlocking is harmless for 0, unknown and repeated ids.
    const int before = Count("select count(*) from CAMPAIGN_LOCKS");
    Call("UNLOCK_CAMPAIGN", {{"ID", 0}});
    Call("UNLOCK_CAMPAIGN", {{"ID", 987654}});
    Call("UNLOCK_CAMPAIGN", {{"ID", l1}});
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), before);
    Call("UNLOCK_CAMPAIGN", {{"ID", lb}});
    Call("UNLOCK_CAMPAIGN", {{"ID", lb}});
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), before - 1);
    Call("UNLOCK_ALL_CAMPAIGN", {{"MAC", "(00:00:00:00:00:0a)"}});
    Call("UNLOCK_ALL_CAMPAIGN", {{"MAC", "(11:11:11:11:11:11)"}});
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), 0);

    Exec("update CAMPAIGNS set CAMPAIGNS_ENABLED = 0");
    EXPECT_EQ(Lock(a), std::make_pair(0, 0));
}

TEST_F(StationSchema, DeviceStatusFollowsTheListOrder) {
    const int camp = AddCampaign("camp");
    const std::string phone = "(00:11:22:33:44:55)";

    // Accepted, recorded, and locked for this radio: another radio finds it busy.
    EXPECT_EQ(Check(phone, camp, kDongleA, std::string(100, 'n')), 5);
    EXPECT_EQ(Scalar("select DEVICES_NAME from DEVICES").AsString(), std::string(80, 'n'));
    EXPECT_EQ(Count("select DEVICES_COD from DEVICES"), 0x5A020C);
    EXPECT_EQ(Check(phone, camp, kDongleB), 0);
    EXPECT_EQ(Count("select DEVICES_COUNT from DEVICES"), 2);
    // Busy comes before the black list.
    Exec("update SETTINGS set SETTINGS_USE_BL = 1, SETTINGS_USE_WL = 1");
    Call("BLACK_LIST_ADD", {{"MAC", phone}, {"NAME", "bad"}, {"ENABLED", 1}});
    EXPECT_EQ(Check(phone, camp, kDongleB), 0);
    // A lock older than ten minutes is dead.
    Exec("update DEVICE_LOCKS set DEVICE_LOCKS_LOCK_TIME = dateadd(-11 minute to current_timestamp)");
    EXPECT_EQ(Check(phone, camp, kDongleB), 1); // black list before the white list
    Exec("update BLACK_LIST set BLACK_LIST_ENABLED = 0");
    EXPECT_EQ(Check(phone, camp, kDongleB), 2);
    Call("WHITE_LIST_ADD", {{"MAC", "(00:11:22:33:44:55)"}, {"NAME", "ok"}, {"ENABLED", 1}});
    Exec("update WHITE_LIST set WHITE_LIST_MAC = lower(WHITE_LIST_MAC)"); // case does not matter
    Exec("update SETTINGS set SETTINGS_USE_BL = 1, SETTINGS_USE_WL = 1");
    EXPECT_EQ(Check(phone, camp, kDongleB), 5);

    // Temporary black list, then already processed.
    Exec("insert into WORK_BLACK_LIST (WORK_BLACK_LIST_CAMPAIGNS_ID, WORK_BLACK_LIST_DEVICES_ID, "
         "WORK_BLACK_LIST_DATE_TIME) select " +
         std::to_string(camp) + ", DEVICES_ID, current_timestamp from DEVICES");
    Exec("insert into PROCESSED (PROCESSED_CAMPAIGNS_ID, PROCESSED_DEVICES_ID, PROCESSED_DATE_TIME) select " +
         std::to_string(camp) + ", DEVICES_ID, current_timestamp from DEVICES");
    EXPECT_EQ(Check(phone, camp, kDongleB), 3);
    Exec("update WORK_BLACK_LIST set WORK_BLACK_LIST_DATE_TIME = dateadd(-25 hour to current_timestamp)");
    EXPECT_EQ(Check(phone, camp, kDongleB), 4);
    EXPECT_EQ(Count("select count(*) from WORK_BLACK_LIST"), 0); // the expired entry went
    // Another campaign is a fresh start for the same device.
    const int other = AddCampaign("other");
    EXPECT_EQ(Check(phone, other, kDongleB), 5);

    // A campaign that does not exist is an error, not a status.
    try {
        Check(phone, 0);
        FAIL() << "no error";
    } catch (const EIBError& e) {
        EXPECT_EQ(e.ExceptionName(), "E_UNKNOWN_CAMPAIGN");
    }
}

TEST_F(StationSchema, ResultsAndRetriesIntoTheTemporaryBlackList) {
    const int camp = AddCampaign("camp");
    Exec("update SETTINGS set SETTINGS_REJECT_RETRY = 2, SETTINGS_IGNORE_RETRY = 0");
    const std::string phone = "(AA:BB:CC:DD:EE:01)";

    // Two retries after a rejection: the third rejection blacklists.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_EQ(Check(phone, camp), 5) << attempt;
        Set(phone, camp, 2);
        EXPECT_EQ(Count("select REJECTED_ATTEMPT from REJECTED"), attempt);
        EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 0); // released
        EXPECT_EQ(Count("select count(*) from WORK_BLACK_LIST"), attempt == 3 ? 1 : 0);
    }
    EXPECT_EQ(Check(phone, camp), 3);
    EXPECT_EQ(Count("select count(*) from HISTORY where HISTORY_RESULT = 2"), 3);
    // When the entry expires, the device starts over with fresh attempts.
    Exec("update WORK_BLACK_LIST set WORK_BLACK_LIST_DATE_TIME = dateadd(-25 hour to current_timestamp)");
    EXPECT_EQ(Check(phone, camp), 5);
    EXPECT_EQ(Count("select count(*) from REJECTED"), 0);

    // No retry after an ignored push: the first one blacklists.
    const std::string other = "(AA:BB:CC:DD:EE:02)";
    ASSERT_EQ(Check(other, camp, kDongleB), 5);
    Set(other, camp, 1, kDongleB);
    EXPECT_EQ(Check(other, camp, kDongleB), 3);

    // Success records PROCESSED and HISTORY; a device never checked is recorded too.
    Set(phone, camp, 0);
    EXPECT_EQ(Check(phone, camp), 4);
    Set("(AA:BB:CC:DD:EE:03)", camp, 0, kDongleB);
    EXPECT_EQ(Count("select count(*) from PROCESSED"), 2);
    EXPECT_EQ(Count("select count(*) from DEVICES"), 3);
    EXPECT_EQ(Count("select count(*) from HISTORY"), 6);
    // Another radio's lock is not released by this radio's result.
    ASSERT_EQ(Check("(AA:BB:CC:DD:EE:04)", camp, kDongleB), 5);
    Set("(AA:BB:CC:DD:EE:04)", camp, 1, kDongleA);
    EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 1);
    EXPECT_THROW(Set(phone, camp, 3), EIBError);
    EXPECT_THROW(Set(phone, 424242, 0), EIBError);
    tr_->RollbackRetaining();
    // A radio that starts again frees what it held; another radio may then take the device.
    ASSERT_EQ(Check("(AA:BB:CC:DD:EE:05)", camp, kDongleB), 5);
    EXPECT_EQ(Check("(AA:BB:CC:DD:EE:05)", camp, kDongleA), 0);
    Call("UNLOCK_ALL_DEVICES", {{"MAC", ""}});
    Call("UNLOCK_ALL_DEVICES", {{"MAC", "(00:00:00:00:00:0b)"}});
    EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 0);
    EXPECT_EQ(Check("(AA:BB:CC:DD:EE:05)", camp, kDongleA), 5);
}

TEST_F(StationSchema, AResultWrittenAgainUnderItsKeyIsRecordedOnce) {
    const int camp = AddCampaign("promo", 0, 1, 2);
    const int other = AddCampaign("other");
    const std::string phone = "(AA:BB:CC:DD:EE:01)";
    auto set = [&](int result, const char* key) {
        Call("SET_DEVICE",
             {{"MAC", phone}, {"CAMPAIGN_ID", camp}, {"RESULT", result}, {"DONGLE", kDongleA}, {"PUSH_KEY", key}});
    };
    // A failed push counts one attempt however often it is written.
    ASSERT_EQ(Check(phone, camp), 5);
    set(1, "A 1");
    set(1, "A 1");
    EXPECT_EQ(Count("select IGNORED_ATTEMPT from IGNORED"), 1);
    // A success keeps its first write's coupon, and the repeat leaves the lock taken since alone.
    ASSERT_EQ(Check(phone, camp), 5);
    const int coupon = Call("GEN_COUPON_CODE", {{"MAC", phone}}).ParamByName("COUPON").AsInteger();
    set(0, "A 2");
    ASSERT_EQ(Check(phone, other), 5);
    set(0, "A 2");
    EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 1);
    EXPECT_EQ(Count("select count(*) from PROCESSED where PROCESSED_COUPON = " + std::to_string(coupon)), 1);
    EXPECT_EQ(Count("select count(*) from PROCESSED"), 1);
    // Without a key every write is recorded, as before.
    Set(phone, camp, 2);
    Set(phone, camp, 2);
    EXPECT_EQ(Count("select count(*) from HISTORY"), 4);
}

TEST_F(StationSchema, TwoStationsCheckingOneDeviceAtOnce) {
    const int camp = AddCampaign("shared");
    const std::string phone = "(00:AA:00:AA:00:AA)";
    ASSERT_EQ(Check(phone, camp, kDongleA), 5); // known device, then a fresh cycle
    Call("UNLOCK_ALL_DEVICES", {{"MAC", kDongleA}});

    // Station B's check is not committed yet when station A asks about the same device.
    auto other = db_->Connect();
    TIBTransaction trB;
    trB.SetDefaultDatabase(other.get());
    TIBStoredProc checkB;
    checkB.SetTransaction(&trB);
    checkB.SetStoredProcName("CHECK_DEVICE");
    checkB.ParamByName("MAC").SetAsString(phone);
    checkB.ParamByName("CAMPAIGN_ID").SetAsInteger(camp);
    checkB.ParamByName("DONGLE_MAC").SetAsString(kDongleB);
    checkB.ExecProc();
    EXPECT_EQ(checkB.ParamByName("STATUS").AsInteger(), 5);
    // No lock-conflict error reaches station A: the device is simply busy.
    EXPECT_EQ(Check(phone, camp, kDongleA), 0);
    trB.Commit();
    EXPECT_EQ(Check(phone, camp, kDongleA), 0);
    EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 1);
}

TEST_F(StationSchema, CouponsAreUniqueAndFoundAfterASuccessfulPush) {
    const int camp = AddCampaign("promo", 0, 1, 2);
    Exec("update CAMPAIGNS set CAMPAIGNS_USE_COUPON = 1, CAMPAIGNS_VALID_IN = 48");
    std::set<int> coupons;
    for (int i = 0; i < 40; ++i) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "(00:00:00:00:01:%02X)", i);
        ASSERT_EQ(Check(mac, camp), 5);
        const int coupon = Call("GEN_COUPON_CODE", {{"MAC", mac}}).ParamByName("COUPON").AsInteger();
        EXPECT_GE(coupon, 1);
        coupons.insert(coupon);
        Set(mac, camp, i % 2 ? 0 : 1); // odd devices received it
    }
    EXPECT_EQ(coupons.size(), 40u);

    // The coupon check's own query finds a sent coupon with its validity.
    TIBQuery check;
    check.SetTransaction(tr_);
    check.SetSQL("select processed_id, campaigns_name, PROCESSED_DATE_TIME, devices_mac, devices_name, "
                 "PROCESSED_VALID_TO from PROCESSED, CAMPAIGNS, DEVICES\n"
                 "where (CAMPAIGNS_ID = PROCESSED_CAMPAIGNS_ID) and (devices_id = PROCESSED_DEVICES_ID) and "
                 "(PROCESSED_COUPON = :coupon);");
    int found = 0;
    for (int coupon : coupons) {
        check.ParamByName("coupon").SetAsInteger(coupon);
        check.Open();
        check.FetchAll();
        if (check.RecordCount()) {
            ++found;
            EXPECT_EQ(check.RecordCount(), 1);
            EXPECT_EQ(check.FieldByName("campaigns_name").AsString(), "promo");
            EXPECT_EQ(check.FieldByName("PROCESSED_VALID_TO").AsInteger(), 48);
        }
        check.Close();
    }
    EXPECT_EQ(found, 20); // only pushes that succeeded carry a coupon
    EXPECT_EQ(Count("select count(*) from PROCESSED where PROCESSED_COUPON is null"), 0);

    // A device no radio accepted gets no coupon that could never be recorded.
    try {
        Call("GEN_COUPON_CODE", {{"MAC", "(99:99:99:99:99:99)"}});
        FAIL() << "no error";
    } catch (const EIBError& e) {
        EXPECT_EQ(e.ExceptionName(), "E_DEVICE_NOT_LOCKED");
    }
}

TEST_F(StationSchema, DeletingASentCampaignIsRefusedAndAFreeOneCascades) {
    const int camp = AddCampaign("busy");
    auto [lock, c] = Lock(0);
    ASSERT_EQ(c, camp);
    ASSERT_EQ(Check("(01:02:03:04:05:06)", camp), 5);
    Set("(01:02:03:04:05:06)", camp, 0);

    TIBQuery del;
    del.SetTransaction(tr_);
    del.SetSQL("delete from CAMPAIGNS where (CAMPAIGNS_ID = :ID);");
    del.ParamByName("ID").SetAsInteger(camp);
    try {
        del.ExecSQL();
        FAIL() << "deleted a running campaign";
    } catch (const EIBError& e) {
        std::string lower = e.what();
        for (char& ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(lower.find("e_campaigns_busy"), std::string::npos) << e.what();
        EXPECT_EQ(e.ExceptionName(), "E_CAMPAIGNS_BUSY");
        tr_->RollbackRetaining();
    }
    EXPECT_EQ(Count("select count(*) from CAMPAIGNS"), 1);

    // A lock left behind by a station that died an hour ago does not hold it.
    Exec("update CAMPAIGN_LOCKS set CAMPAIGN_LOCKS_LOCK_TIME = dateadd(-61 minute to current_timestamp)");
    del.ExecSQL();
    tr_->CommitRetaining();
    EXPECT_EQ(Count("select count(*) from CAMPAIGNS"), 0);
    EXPECT_EQ(Count("select count(*) from PROCESSED"), 0);
    EXPECT_EQ(Count("select count(*) from HISTORY"), 0);
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS"), 0);
    Call("UNLOCK_CAMPAIGN", {{"ID", lock}});             // the radio's later unlock is harmless
    EXPECT_EQ(Count("select count(*) from DEVICES"), 1); // devices stay
}

TEST_F(StationSchema, CampaignsAreValidatedAndUpdateKeepsContentOnNull) {
    const TBytes content{0, 1, 2, 255};
    auto& add = Call("ADD_CAMPAIGN", {{"CAMPAIGNS_NAME", "Promo \xD0\x90"},
                                      {"CAMPAIGNS_SCHEDULE", 2},
                                      {"CAMPAIGNS_START_DATE", TDate{2024, 5, 1}},
                                      {"CAMPAIGNS_START_TIME", TTime{8, 0, 0, 0}},
                                      {"CAMPAIGNS_END_DATE", TDate{2024, 5, 2}},
                                      {"CAMPAIGNS_END_TIME", TTime{18, 0, 0, 0}},
                                      {"CAMPAIGNS_TYPE", 2},
                                      {"CAMPAIGNS_ENABLED", 1},
                                      {"CAMPAIGNS_FILE_NAME", "promo.jpg"},
                                      {"CAMPAIGNS_DATA", content},
                                      {"CAMPAIGNS_USE_COUPON", 1},
                                      {"CAMPAIGNS_DAYS_MON", 1},
                                      {"CAMPAIGNS_FONT_COLOR", -16777208},
                                      {"CAMPAIGNS_VALID_IN", "24"}}); // the editor hands over its text
    const int id = add.ParamByName("CAMPAIGNS_ID").AsInteger();
    ASSERT_GT(id, 0);

    auto update = [&](const TValue& data, const std::string& name) {
        Call("UPDATE_CAMPAIGN", {{"CAMPAIGNS_ID", id},
                                 {"CAMPAIGNS_NAME", name},
                                 {"CAMPAIGNS_SCHEDULE", 0},
                                 {"CAMPAIGNS_ENABLED", 0},
                                 {"CAMPAIGNS_FILE_NAME", "new.jpg"},
                                 {"CAMPAIGNS_DATA", data},
                                 {"CAMPAIGNS_VALID_IN", 12}});
    };
    update(TValue(), "Renamed");
    TIBQuery q;
    q.SetTransaction(tr_);
    q.SetSQL("select * from CAMPAIGNS where CAMPAIGNS_ID = :id");
    q.ParamByName("id").SetAsInteger(id);
    q.Open();
    EXPECT_EQ(q.FieldByName("CAMPAIGNS_NAME").AsString(), "Renamed");
    EXPECT_EQ(q.FieldByName("CAMPAIGNS_DATA").AsBytes(), content);
    EXPECT_EQ(q.FieldByName("CAMPAIGNS_TYPE").AsInteger(), 2);
    EXPECT_EQ(q.FieldByName("CAMPAIGNS_ENABLED").AsInteger(), 0);
    EXPECT_EQ(q.FieldByName("CAMPAIGNS_VALID_IN").AsInteger(), 12);
    EXPECT_EQ(q.FieldByName("CAMPAIGNS_DAYS_MON").AsInteger(), 0);
    q.Close();
    update(TBytes{9}, "Renamed");
    q.Open();
    EXPECT_EQ(q.FieldByName("CAMPAIGNS_DATA").AsBytes(), TBytes{9});
    q.Close();
    tr_->CommitRetaining();

    // Bad input raises and stores nothing.
    const int before = Count("select count(*) from CAMPAIGNS");
    auto addBad = [&](const TValue& name, int type, int schedule) {
        EXPECT_THROW(Call("ADD_CAMPAIGN",
                          {{"CAMPAIGNS_NAME", name}, {"CAMPAIGNS_TYPE", type}, {"CAMPAIGNS_SCHEDULE", schedule}}),
                     EIBError);
        tr_->RollbackRetaining();
    };
    addBad("", 0, 0);
    addBad(TValue(), 0, 0);
    addBad("x", 3, 0);
    addBad("x", 0, -1);
    EXPECT_THROW(Call("ADD_CAMPAIGN", {{"CAMPAIGNS_NAME", "x"},
                                       {"CAMPAIGNS_TYPE", 0},
                                       {"CAMPAIGNS_SCHEDULE", 0},
                                       {"CAMPAIGNS_VALID_IN", "soon"}}),
                 EIBError);
    tr_->RollbackRetaining();
    EXPECT_EQ(Count("select count(*) from CAMPAIGNS"), before);
    EXPECT_THROW(
        Call("UPDATE_CAMPAIGN", {{"CAMPAIGNS_ID", id + 100}, {"CAMPAIGNS_NAME", "x"}, {"CAMPAIGNS_SCHEDULE", 0}}),
        EIBError);
    tr_->RollbackRetaining();
}

TEST_F(StationSchema, TextsOfAnyScriptKeepTheirCharactersAndLengthsCountCharacters) {
    const std::string campaign = "Caf\u00e9 \u00d1and\u00fa \u2013 \u043a\u043e\u0444\u0435 \u2615 \u5496\u5561";
    const std::string phone = "\u738b\u5c0f\u660e\u7684\u624b\u673a";
    const std::string entry = "Emoji \U0001F4F1 Phone";
    std::string wide; // 80 characters of three bytes each
    for (int i = 0; i < 80; ++i)
        wide += "\u5496";
    const int id = AddCampaign(campaign);
    const int full = AddCampaign(wide);
    EXPECT_THROW(AddCampaign(wide + "x"), EIBError);
    tr_->RollbackRetaining();
    // Only an empty name is no name; blanks are kept as typed.
    const int blanks = AddCampaign("   ");
    EXPECT_EQ(Scalar("select CAMPAIGNS_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id)).AsString(),
              campaign);
    EXPECT_EQ(Scalar("select CAMPAIGNS_NAME from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(full)).AsString(),
              wide);
    EXPECT_EQ(Count("select char_length(CAMPAIGNS_NAME) from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(blanks)),
              3);

    // A phone's name is cut to 80 characters, not bytes.
    EXPECT_EQ(Check("(00:00:00:00:00:01)", id, kDongleA, phone), 5);
    EXPECT_EQ(Check("(00:00:00:00:00:02)", id, kDongleA, wide + phone), 5);
    EXPECT_EQ(Scalar("select DEVICES_NAME from DEVICES where DEVICES_MAC = '(00:00:00:00:00:01)'").AsString(), phone);
    EXPECT_EQ(Scalar("select DEVICES_NAME from DEVICES where DEVICES_MAC = '(00:00:00:00:00:02)'").AsString(), wide);
    Call("WHITE_LIST_ADD", {{"MAC", "(00:00:00:00:00:03)"}, {"NAME", entry}, {"ENABLED", 1}});
    EXPECT_EQ(Scalar("select WHITE_LIST_NAME from WHITE_LIST").AsString(), entry);

    // Every text column and procedure parameter is UTF8 by name.
    EXPECT_EQ(Count("select count(*) from RDB$RELATION_FIELDS r join RDB$FIELDS f on f.RDB$FIELD_NAME = "
                    "r.RDB$FIELD_SOURCE where coalesce(r.RDB$SYSTEM_FLAG, 0) = 0 and f.RDB$FIELD_TYPE in (14, 37) "
                    "and f.RDB$CHARACTER_SET_ID <> 4"),
              0);
    EXPECT_EQ(Count("select count(*) from RDB$PROCEDURE_PARAMETERS p join RDB$FIELDS f on f.RDB$FIELD_NAME = "
                    "p.RDB$FIELD_SOURCE where coalesce(p.RDB$SYSTEM_FLAG, 0) = 0 and f.RDB$FIELD_TYPE in (14, 37) "
                    "and f.RDB$CHARACTER_SET_ID <> 4"),
              0);
}

TEST_F(StationSchema, ListsAndTheSettingsRow) {
    const int id = Call("WHITE_LIST_ADD", {{"MAC", "(00:00:00:00:00:01)"}, {"NAME", "a"}, {"ENABLED", 1}})
                       .ParamByName("ID")
                       .AsInteger();
    Call("WHITE_LIST_UPDATE", {{"ID", id}, {"MAC", "(00:00:00:00:00:02)"}, {"NAME", "b"}, {"ENABLED", 0}});
    EXPECT_EQ(Scalar("select WHITE_LIST_MAC || WHITE_LIST_NAME || WHITE_LIST_ENABLED from WHITE_LIST").AsString(),
              "(00:00:00:00:00:02)b0");
    EXPECT_THROW(Call("WHITE_LIST_UPDATE", {{"ID", id + 1}, {"MAC", "x"}}), EIBError);
    tr_->RollbackRetaining();
    Call("WHITE_LIST_DELETE", {{"ID", id + 1}});
    Call("WHITE_LIST_DELETE", {{"ID", id}});
    EXPECT_EQ(Count("select count(*) from WHITE_LIST"), 0);
    const int bid = Call("BLACK_LIST_ADD", {{"MAC", "(00:00:00:00:00:03)"}, {"NAME", "c"}, {"ENABLED", 1}})
                        .ParamByName("ID")
                        .AsInteger();
    Call("BLACK_LIST_UPDATE", {{"ID", bid}, {"MAC", "(00:00:00:00:00:03)"}, {"NAME", "d"}, {"ENABLED", 1}});
    Call("BLACK_LIST_DELETE", {{"ID", bid}});
    EXPECT_EQ(Count("select count(*) from BLACK_LIST"), 0);
    EXPECT_THROW(Call("BLACK_LIST_ADD", {{"MAC", ""}}), EIBError);
    tr_->RollbackRetaining();

    TIBQuery s;
    s.SetTransaction(tr_);
    s.SetSQL("select settings_max_conn, settings_sleep, settings_disc_timeout, settings_connect_timeout, "
             "settings_delay, settings_name, settings_max_per_dongle from settings;");
    s.Open();
    EXPECT_EQ(s.FieldByName("settings_name").AsString(), "Tavlin");
    EXPECT_EQ(s.FieldByName("settings_max_conn").AsInteger(), 7);
    EXPECT_EQ(s.FieldByName("settings_max_per_dongle").AsInteger(), 20);
    EXPECT_EQ(s.FieldByName("settings_sleep").AsInteger(), 5);
    EXPECT_EQ(s.FieldByName("settings_disc_timeout").AsInteger(), 15);
    EXPECT_EQ(s.FieldByName("settings_connect_timeout").AsInteger(), 30);
    EXPECT_EQ(s.FieldByName("settings_delay").AsInteger(), 5);
    s.Close();
    // Values the sender would refuse, and a second row, are refused here.
    EXPECT_THROW(Exec("update SETTINGS set SETTINGS_SLEEP = 0"), EIBError);
    tr_->RollbackRetaining();
    EXPECT_THROW(Exec("update SETTINGS set SETTINGS_MAX_CONN = 256"), EIBError);
    tr_->RollbackRetaining();
    EXPECT_THROW(Exec("insert into SETTINGS select * from SETTINGS"), EIBError);
    tr_->RollbackRetaining();
    EXPECT_EQ(Count("select count(*) from SETTINGS"), 1);
}

} // namespace
