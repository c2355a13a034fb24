// The data-access layer on the embedded engine: parameters by name, NULLs,
// texts in the connection character set, blobs, dates, transactions, errors.
#include "TestDatabase.h"

#include "ibx/IBCharset.h"
#include "ibx/IBScript.h"
#include "ibx/IBSQL.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace ibx;
using tavlin::test::DatabaseSuite;

namespace {

class IBX : public DatabaseSuite {
protected:
    static void SetUpTestSuite() {
        DatabaseSuite::SetUpTestSuite();
        Exec("create table T (ID integer not null primary key, S varchar(40), N smallint, B bigint, "
             "M numeric(15,2), F double precision, D date, TM time, TS timestamp, BT blob sub_type 1, "
             "BB blob sub_type 0, C char(4))");
        Exec("create procedure ECHO (A integer, S varchar(40), D date) returns (A2 integer, S2 varchar(40), "
             "D2 date) as begin A2 = A * 2; S2 = S || '!'; D2 = D + 1; end");
        Exec("create exception E_TEST 'e_test: nothing works'");
        Exec("create procedure FAIL as begin exception E_TEST; end");
    }
};

TEST(IBXText, NamedParametersAndCharsetConversion) {
    std::vector<std::string> names;
    EXPECT_EQ(TranslateNamedParams("select ':no', \"a:b\" from t where a = :A and b = :b_2 -- :c\n"
                                   "and c = :a /* :d */ and e = ?",
                                   names),
              "select ':no', \"a:b\" from t where a = ? and b = ? -- :c\nand c = ? /* :d */ and e = ?");
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B_2", "A", ""}));

    const std::string cyr = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x82\xAC"; // "Привет €"
    const std::string w = Utf8ToWin1251(cyr);
    EXPECT_EQ(w, "\xCF\xF0\xE8\xE2\xE5\xF2 \x88");
    EXPECT_EQ(Win1251ToUtf8(w), cyr);
    // Characters the code page cannot hold, and broken UTF-8, become "?".
    EXPECT_EQ(Utf8ToWin1251("a\xE4\xB8\xAD"
                            "b\xC3"),
              "a?b?");
    EXPECT_EQ(Win1251ToUtf8("\x98"), "\xEF\xBF\xBD");
    // Values read as other types where that means something, and refuse otherwise.
    EXPECT_EQ(TValue(std::u16string(u"\u041A")).AsString(), "\xD0\x9A");
    EXPECT_EQ(TValue(" 42 ").AsInteger(), 42);
    EXPECT_EQ(TValue("2024-02-29 13:05:07.5").AsDateTime(), (TDateTime{{2024, 2, 29}, {13, 5, 7, 5000}}));
    EXPECT_EQ(TValue(TDateTime{{2024, 2, 29}, {13, 5, 7, 0}}).AsString(), "2024-02-29 13:05:07");
    EXPECT_THROW(TValue("2023-02-29").AsDate(), vcl::EConvertError);
    EXPECT_THROW(TValue("12x").AsInteger(), vcl::EConvertError);
    EXPECT_THROW(TValue(std::int64_t{1} << 40).AsInteger(), vcl::EConvertError);
    EXPECT_EQ(AddSeconds({{2024, 12, 31}, {23, 0, 0, 0}}, 3600), (TDateTime{{2025, 1, 1}, {0, 0, 0, 0}}));
    EXPECT_EQ(DayNumberToDate(DateToDayNumber({1858, 11, 17})), (TDate{1858, 11, 17}));
    EXPECT_EQ(DateToDayNumber({1858, 11, 17}), 0);
}

TEST(IBXText, ScriptSplittingFollowsSetTerm) {
    const auto st = SplitScript("create table A (X int); -- note; here\n"
                                "SET TERM ^ ;\n"
                                "create procedure P as begin insert into A values (';'); end^\n"
                                "SET TERM ; ^\n"
                                "/* ; */ insert into A values (1);");
    ASSERT_EQ(st.size(), 3u);
    EXPECT_EQ(st[0], "create table A (X int)");
    EXPECT_EQ(st[1], "create procedure P as begin insert into A values (';'); end");
    EXPECT_EQ(st[2], "/* ; */ insert into A values (1)");
}

TEST_F(IBX, RoundTripsEveryTypeAndNull) {
    TIBQuery ins;
    ins.SetTransaction(tr_);
    ins.SetSQL("insert into T (ID, S, N, B, M, F, D, TM, TS, BT, BB, C) "
               "values (:id, :s, :n, :b, :m, :f, :d, :tm, :ts, :bt, :bb, :c)");
    TBytes big(300000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    const std::string cyr = "\xD0\x9A\xD0\xBE\xD1\x84\xD0\xB5"; // "Кофе"
    ins.ParamByName("ID").SetAsInteger(1);
    ins.ParamByName("s").SetAsString(cyr);
    ins.ParamByName("n").SetAsString("42"); // text into smallint: the engine converts
    ins.ParamByName("b").SetAsInteger(9000000000LL);
    ins.ParamByName("m").SetAsDouble(12.345);
    ins.ParamByName("f").SetAsDouble(0.125);
    ins.ParamByName("d").SetAsDate({2024, 2, 29});
    ins.ParamByName("tm").SetAsTime({23, 59, 58, 1234});
    ins.ParamByName("ts").SetAsDateTime({{1999, 12, 31}, {10, 0, 0, 0}});
    ins.ParamByName("bt").SetAsString(cyr + std::string(70000, 'x'));
    ins.ParamByName("bb").SetAsBytes(big);
    ins.ParamByName("c").SetAsString("ab");
    ins.ExecSQL();
    EXPECT_EQ(ins.RowsAffected(), 1);
    // Unset parameters are NULL; an empty blob is not NULL.
    ins.ParamByName("id").SetAsInteger(2);
    for (const char* p : {"s", "n", "b", "m", "f", "d", "tm", "ts", "bt", "c"})
        ins.ParamByName(p).Clear();
    ins.ParamByName("bb").SetAsBytes({});
    ins.ExecSQL();
    tr_->CommitRetaining();

    TIBQuery q;
    q.SetTransaction(tr_);
    // Only this test's rows: the suite's other tests share the table.
    q.SetSQL("select * from T where ID >= :id and ID < 10 order by ID");
    q.ParamByName("id").SetAsInteger(1);
    q.Open();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldByName("s").AsString(), cyr);
    EXPECT_EQ(q.FieldByName("N").AsInteger(), 42);
    EXPECT_EQ(q.FieldByName("B").AsInt64(), 9000000000LL);
    EXPECT_DOUBLE_EQ(q.FieldByName("M").AsDouble(), 12.35);
    EXPECT_DOUBLE_EQ(q.FieldByName("F").AsDouble(), 0.125);
    EXPECT_EQ(q.FieldByName("D").AsDate(), (TDate{2024, 2, 29}));
    EXPECT_EQ(q.FieldByName("TM").AsTime(), (TTime{23, 59, 58, 1234}));
    EXPECT_EQ(q.FieldByName("TS").AsDateTime(), (TDateTime{{1999, 12, 31}, {10, 0, 0, 0}}));
    EXPECT_EQ(q.FieldByName("BT").AsString(), cyr + std::string(70000, 'x'));
    EXPECT_EQ(q.FieldByName("BB").AsBytes(), big);
    EXPECT_EQ(q.FieldByName("C").AsString(), "ab  ");
    q.Next();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    for (const char* f : {"S", "N", "B", "M", "F", "D", "TM", "TS", "BT", "C"})
        EXPECT_TRUE(q.FieldByName(f).IsNull()) << f;
    EXPECT_FALSE(q.FieldByName("BB").IsNull());
    EXPECT_TRUE(q.FieldByName("BB").AsBytes().empty());
    EXPECT_EQ(q.FieldByName("S").AsInteger(), 0);
    q.Next();
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.RecordCount(), 2);
    q.First();
    EXPECT_EQ(q.FieldByName("id").AsInteger(), 1);
    EXPECT_THROW(q.FieldByName("nope"), EIBClientError);
    EXPECT_THROW(ins.ParamByName("nope"), EIBClientError);
    q.Close();
}

TEST_F(IBX, SameParameterTwiceAndFetchAll) {
    Exec("insert into T (ID, N) values (10, 5)");
    Exec("insert into T (ID, N) values (11, 6)");
    Exec("insert into T (ID, N) values (12, 5)");
    TIBQuery q;
    q.SetTransaction(tr_);
    q.SetSQL("select ID from T where N = :v or ID = :v + 6 order by ID");
    EXPECT_EQ(q.ParamCount(), 1);
    q.ParamByName("V").SetAsInteger(5);
    q.Open();
    q.FetchAll();
    EXPECT_EQ(q.RecordCount(), 3);
    std::vector<int> ids;
    for (q.First(); !q.Eof(); q.Next())
        ids.push_back(q.FieldByName("ID").AsInteger());
    EXPECT_EQ(ids, (std::vector<int>{10, 11, 12}));
}

TEST_F(IBX, StoredProcedureByNamesAndReuse) {
    TIBStoredProc sp;
    sp.SetTransaction(tr_);
    sp.SetStoredProcName("echo");
    sp.ParamByName("d").SetAsDate({2023, 12, 31});
    sp.ParamByName("S").SetAsString("hi");
    sp.ParamByName("A").SetAsInteger(21);
    sp.ExecProc();
    EXPECT_EQ(sp.ParamByName("A2").AsInteger(), 42);
    EXPECT_EQ(sp.ParamByName("S2").AsString(), "hi!");
    EXPECT_EQ(sp.ParamByName("D2").AsDate(), (TDate{2024, 1, 1}));
    EXPECT_TRUE(sp.ParamByName("A2").Output());
    EXPECT_FALSE(sp.ParamByName("A").Output());
    // Values stay between calls; a cleared input is NULL.
    sp.ParamByName("A").Clear();
    sp.ExecProc();
    EXPECT_TRUE(sp.ParamByName("A2").IsNull());
    EXPECT_EQ(sp.ParamByName("S2").AsString(), "hi!");
    EXPECT_THROW(sp.ParamByName("X"), EIBClientError);

    TIBStoredProc bad;
    bad.SetTransaction(tr_);
    bad.SetStoredProcName("NO_SUCH_PROC");
    EXPECT_THROW(bad.ExecProc(), EIBError);
    bad.SetStoredProcName("X; drop table T");
    EXPECT_THROW(bad.ExecProc(), EIBClientError);
}

TEST_F(IBX, ErrorsKeepEveryStatusLineAndTheExceptionName) {
    TIBStoredProc sp;
    sp.SetTransaction(tr_);
    sp.SetStoredProcName("FAIL");
    try {
        sp.ExecProc();
        FAIL() << "no error";
    } catch (const EIBError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("exception"), std::string::npos) << text;
        EXPECT_NE(text.find("E_TEST"), std::string::npos) << text;
        EXPECT_NE(text.find("e_test: nothing works"), std::string::npos) << text;
        EXPECT_NE(text.find("At procedure 'FAIL'"), std::string::npos) << text;
        EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 2) << text;
        EXPECT_EQ(e.ExceptionName(), "E_TEST");
        EXPECT_EQ(e.SQLCode(), -836);
        EXPECT_TRUE(e.HasGDSCode(335544517L)); // isc_except
    }

    TIBQuery q;
    q.SetTransaction(tr_);
    q.SetSQL("insert into T (ID) values (:id)");
    q.ParamByName("id").SetAsInteger(100);
    q.ExecSQL();
    try {
        q.ExecSQL();
        FAIL() << "no error";
    } catch (const EIBError& e) {
        EXPECT_EQ(e.SQLCode(), -803);
        EXPECT_TRUE(e.ExceptionName().empty());
        EXPECT_NE(std::string(e.what()).find("PRIMARY or UNIQUE KEY"), std::string::npos) << e.what();
    }
    // A value out of the column's range is the engine's error, not a silent wrap.
    q.SetSQL("insert into T (ID, N) values (101, :n)");
    q.ParamByName("n").SetAsInteger(70000);
    EXPECT_THROW(q.ExecSQL(), EIBError);
    q.ParamByName("n").SetAsString("12x");
    EXPECT_THROW(q.ExecSQL(), EIBError);
}

TEST_F(IBX, CommitAndRollbackRetaining) {
    Exec("insert into T (ID) values (200)");
    TIBQuery q;
    q.SetTransaction(tr_);
    q.SetSQL("insert into T (ID) values (201)");
    q.ExecSQL();
    tr_->RollbackRetaining();
    EXPECT_TRUE(tr_->InTransaction());
    EXPECT_TRUE(Scalar("select count(*) from T where ID = 201").AsInteger() == 0);
    EXPECT_EQ(Scalar("select count(*) from T where ID = 200").AsInteger(), 1);

    // Another connection sees committed-retained work only.
    auto other = db_->Connect();
    TIBTransaction tr2;
    tr2.SetDefaultDatabase(other.get());
    TIBQuery seen;
    seen.SetTransaction(&tr2);
    seen.SetSQL("select count(*) from T where ID between 200 and 299");
    q.SetSQL("insert into T (ID) values (202)");
    q.ExecSQL();
    seen.Open();
    EXPECT_EQ(seen.Fields(0).AsInteger(), 1);
    tr_->CommitRetaining();
    seen.Open();
    EXPECT_EQ(seen.Fields(0).AsInteger(), 2);
    // nowait: a row another transaction changed and has not committed conflicts at once.
    TIBQuery upd;
    upd.SetTransaction(&tr2);
    upd.SetSQL("update T set N = 1 where ID = 200");
    upd.ExecSQL();
    q.SetSQL("update T set N = 2 where ID = 200");
    EXPECT_THROW(q.ExecSQL(), EIBError);
    tr2.Rollback();
    EXPECT_FALSE(tr2.InTransaction());
    EXPECT_THROW(tr2.Commit(), EIBClientError);
    other->Close();
    EXPECT_FALSE(other->Connected());
}

TEST_F(IBX, ComponentsSurviveTheirTransactionAndConnection) {
    Exec("insert into T (ID) values (300)");
    Exec("insert into T (ID) values (301)");
    auto conn = db_->Connect();
    auto tr = std::make_unique<TIBTransaction>();
    tr->SetDefaultDatabase(conn.get());
    TIBSQL sql;
    sql.SetTransaction(tr.get());
    sql.SetSQL("select ID from T where ID >= 300 order by ID");
    sql.ExecQuery(); // starts the transaction by itself
    EXPECT_TRUE(tr->InTransaction());
    EXPECT_EQ(sql.FieldByName("ID").AsInteger(), 300);
    // A hard commit ends the cursor: the statement reports the end instead of failing.
    tr->Commit();
    EXPECT_FALSE(sql.Next());
    EXPECT_TRUE(sql.Eof());
    sql.ExecQuery();
    EXPECT_TRUE(sql.Next());
    EXPECT_EQ(sql.FieldByName("ID").AsInteger(), 301);
    // The transaction and then the connection go first; the statement only forgets them.
    tr.reset();
    EXPECT_EQ(sql.Transaction(), nullptr);
    EXPECT_THROW(sql.ExecQuery(), EIBClientError);
    TIBTransaction tr2;
    tr2.SetDefaultDatabase(conn.get());
    sql.SetTransaction(&tr2);
    sql.ExecQuery();
    EXPECT_EQ(sql.FieldByName("ID").AsInteger(), 300);
    conn.reset();
    EXPECT_FALSE(sql.Prepared());
    EXPECT_FALSE(tr2.InTransaction());
    EXPECT_THROW(sql.ExecQuery(), EIBClientError);
}

TEST(IBXDatabase, CreateFromScriptAndFailures) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tavlin-ibx-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string script = dir + "/s.sql";
    std::ofstream(script)
        << "create table A (X varchar(10));\nSET TERM ^ ;\n"
           "create procedure P (V varchar(10)) returns (L integer) as begin L = char_length(V); end^\n"
           "SET TERM ; ^\ninsert into A values ('x');\ncommit;\n";
    const std::string path = dir + "/a.fdb";
    CreateDatabaseFromScript(path, script, "SYSDBA", "", false);
    TIBDatabase db;
    db.SetDatabaseName(path);
    db.SetParams({"user_name=SYSDBA", "lc_ctype=win1251"});
    db.Open();
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    TIBStoredProc p;
    p.SetTransaction(&tr);
    p.SetStoredProcName("P");
    p.ParamByName("V").SetAsString("\xD0\xB4\xD0\xB0"); // two letters, four UTF-8 bytes
    p.ExecProc();
    EXPECT_EQ(p.ParamByName("L").AsInteger(), 2);
    tr.Commit();
    db.Close();
    // Creating over an existing file fails; a script error leaves no file behind.
    EXPECT_THROW(CreateDatabaseFromScript(path, script, "SYSDBA", "", false), EIBError);
    std::ofstream(script) << "create table B (X int);\ncreate tabel C (Y int);\n";
    try {
        CreateDatabaseFromScript(dir + "/b.fdb", script, "SYSDBA", "", false);
        FAIL() << "no error";
    } catch (const EIBError& e) {
        EXPECT_NE(std::string(e.what()).find("create tabel C"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(dir + "/b.fdb"));
    // Opening a missing file reports the engine's text.
    TIBDatabase missing;
    missing.SetDatabaseName(dir + "/none.fdb");
    EXPECT_THROW(missing.Open(), EIBError);
    EXPECT_THROW(TIBDatabase().Open(), EIBClientError);
    fs::remove_all(dir);
}

TEST(IBXDatabase, FileNamesAndTextsBeyondOneCodePage) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tavlin-ibx-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string folder = dir + "/Caf\u00e9 \u5496\u5561";
    fs::create_directories(folder);
    const std::string script = dir + "/s.sql";
    std::ofstream(script) << "create table A (X varchar(10), W varchar(10) character set win1251);\n";
    CreateDatabaseFromScript(folder + "/a.fdb", script, "SYSDBA", "", false);
    TIBDatabase db;
    db.SetDatabaseName(folder + "/a.fdb");
    db.SetParams({"user_name=SYSDBA", "lc_ctype=UTF8"});
    db.Open();
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.StartTransaction();
    TIBQuery q;
    q.SetTransaction(&tr);
    // Ten characters of up to four bytes each fit a column of ten.
    const std::string text = "\u5496\u5561 \u2615\U0001F4F1 Zo\u00eb!";
    q.SetSQL("insert into A (X, W) values (:x, :w)");
    q.ParamByName("x").SetAsString(text);
    q.ParamByName("w").SetAsString("\u043a\u043e\u0444\u0435");
    q.ExecSQL();
    // A column of a one-byte code page refuses what it cannot hold, and keeps nothing of it.
    q.ParamByName("w").SetAsString("Zo\u00eb");
    try {
        q.ExecSQL();
        ADD_FAILURE() << "stored";
    } catch (const EIBError& e) {
        EXPECT_TRUE(e.CannotTransliterate()) << e.what();
    }
    TIBQuery r;
    r.SetTransaction(&tr);
    r.SetSQL("select X, W from A");
    r.Open();
    ASSERT_FALSE(r.Eof());
    EXPECT_EQ(r.Fields(0).AsString(), text);
    EXPECT_EQ(r.Fields(1).AsString(), "\u043a\u043e\u0444\u0435");
    r.Next();
    EXPECT_TRUE(r.Eof());
    r.Close();
    tr.Commit();
    db.Close();
    fs::remove_all(dir);
}

} // namespace
