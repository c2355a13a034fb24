// The white and black lists: the dialog's one transaction, rows as the database gives them,
// the entry dialog's MAC edit, a failing delete, and how the station matches list entries.
#include "ModalSteps.h"
#include "QtTestApp.h"
#include "ScopedEnv.h"
#include "TestDatabase.h"
#include "devicelist.h"
#include "msgbox.h"
#include "translation.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace {

class DeviceListTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        ASSERT_TRUE(home.isValid());
        Translator().SetFileName(home.filePath("langs.dat"));
        conn = testDb.Connect();
        tr.SetDefaultDatabase(conn.get());
        tr.SetParams({"read_committed", "rec_version", "nowait"});
    }
    void TearDown() override { Translator().SetFileName(QString()); }

    // Statements and reads on a connection of their own, committed at once.
    void Exec(const std::string& sql) {
        tr.StartTransaction();
        ibx::TIBQuery q;
        q.SetTransaction(&tr);
        q.SetSQL(sql);
        q.ExecSQL();
        tr.Commit();
    }
    QStringList Rows(const std::string& table) {
        tr.StartTransaction();
        ibx::TIBQuery q;
        q.SetTransaction(&tr);
        q.SetSQL("select " + table + "_MAC, " + table + "_ENABLED from " + table + " order by " + table + "_ID");
        QStringList out;
        for (q.Open(); !q.Eof(); q.Next())
            out << QString::fromStdString(q.Fields(0).AsString()) + "=" + QString::number(q.Fields(1).AsInteger());
        q.Close();
        tr.Commit();
        return out;
    }
    static QStringList Shown(const TfmDeviceList& d) {
        QStringList out;
        for (int i = 0; i < d.ListView->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* it = d.ListView->topLevelItem(i);
            out << it->text(0) + "|" + it->text(1) + "|" + it->text(2);
        }
        return out;
    }
    // Adds one entry through the dialog's Add and the entry dialog.
    static void Add(TfmDeviceList& d, const QString& mac, const QString& name, bool enabled = true) {
        tavtest::ModalSteps steps;
        steps.Then<TfmEditDevice>([&](TfmEditDevice& e) {
            EXPECT_EQ(e.EntryId, 0);
            EXPECT_TRUE(e.cbEnabled->isChecked());
            e.edMAC->setText(mac);
            e.edName->setText(name);
            e.cbEnabled->setChecked(enabled);
            e.btOK->click();
        });
        d.acAdd->trigger();
        EXPECT_TRUE(steps.Done());
    }

    QTemporaryDir home;
    tavlin::test::TestDatabase testDb;
    std::unique_ptr<ibx::TIBDatabase> conn;
    ibx::TIBTransaction tr;
    TMessageBoxScript boxes;
};

TEST_F(DeviceListTest, CancelRollsBackEveryChangeOfTheDialogAndOkCommitsThem) {
    for (const bool white : {true, false}) {
        const std::string table = white ? "WHITE_LIST" : "BLACK_LIST";
        Exec("insert into " + table + " (" + table + "_MAC, " + table + "_ENABLED) values ('(00:00:00:00:00:01)', 1)");
        const QStringList before = Rows(table);
        const auto open = [&]() -> std::unique_ptr<TfmDeviceList> {
            if (white)
                return std::make_unique<TfmWhiteList>(conn.get());
            return std::make_unique<TfmBlackList>(conn.get());
        };
        {
            auto d = open();
            EXPECT_EQ(d->objectName(), white ? "fmWhiteList" : "fmBlackList");
            d->show();
            Add(*d, "(00:1E:3A:47:9C:42)", "Marta");
            Add(*d, "(00:1E:3A:47:9C:43)", "Tomas");
            // The first row's delete runs in the same transaction.
            d->ListView->setCurrentItem(d->ListView->topLevelItem(0));
            boxes.Answer(TMsgResult::Yes);
            d->acDelete->trigger();
            ASSERT_EQ(d->ListView->topLevelItemCount(), 2);
            // No keeps the dialog open with its rows.
            boxes.Answer(TMsgResult::No);
            d->btCancel->click();
            EXPECT_TRUE(d->isVisible());
            EXPECT_EQ(d->ListView->topLevelItemCount(), 2);
            boxes.Answer(TMsgResult::Yes);
            d->btCancel->click();
            EXPECT_FALSE(d->isVisible());
            EXPECT_EQ(d->result(), QDialog::Rejected);
            ASSERT_EQ(boxes.Asked().size(), 3u);
            EXPECT_EQ(boxes.Asked()[1].text, "All the changes you made will be discarded. Are you sure you want to "
                                             "discard all the changes?");
            EXPECT_EQ(boxes.Asked()[1].type, TMsgDlgType::Warning);
        }
        EXPECT_EQ(Rows(table), before) << table;
        {
            auto d = open();
            d->show();
            Add(*d, "(00:1E:3A:47:9C:44)", "Orbit", false);
            d->btOK->click();
            EXPECT_FALSE(d->isVisible());
        }
        EXPECT_EQ(Rows(table), before + QStringList{"(00:1E:3A:47:9C:44)=0"}) << table;
        EXPECT_EQ(boxes.Unexpected(), 0);
        boxes.Clear();
    }
}

TEST_F(DeviceListTest, RowsShowTheDatabaseAndEditsKeepADisabledEntryDisabled) {
    Exec("insert into WHITE_LIST (WHITE_LIST_ID, WHITE_LIST_MAC, WHITE_LIST_NAME, WHITE_LIST_ENABLED) "
         "values (100, '(00:BB:00:00:00:00)', 'Off', 0)");
    TfmWhiteList d(conn.get());
    d.show();
    EXPECT_EQ(Shown(d), QStringList{"(00:BB:00:00:00:00)|Off|No"});
    EXPECT_FALSE(d.acEdit->isEnabled());
    EXPECT_FALSE(d.acDelete->isEnabled());

    // New rows go to the end with the id the database gave them, until a refresh sorts by MAC.
    Add(d, "(00:CC:00:00:00:00)", "C");
    Add(d, "(00:AA:00:00:00:00)", "A");
    EXPECT_EQ(Shown(d),
              (QStringList{"(00:BB:00:00:00:00)|Off|No", "(00:CC:00:00:00:00)|C|Yes", "(00:AA:00:00:00:00)|A|Yes"}));
    const int idA = TfmDeviceList::RowId(d.ListView->topLevelItem(2));
    EXPECT_GT(idA, 0);
    EXPECT_NE(idA, TfmDeviceList::RowId(d.ListView->topLevelItem(1)));
    d.acRefresh->trigger();
    EXPECT_EQ(Shown(d),
              (QStringList{"(00:AA:00:00:00:00)|A|Yes", "(00:BB:00:00:00:00)|Off|No", "(00:CC:00:00:00:00)|C|Yes"}));
    EXPECT_EQ(TfmDeviceList::RowId(d.ListView->topLevelItem(0)), idA);

    // Editing the disabled row opens it unchecked; OK unchanged stores 0 and keeps "No".
    d.ListView->setCurrentItem(d.ListView->topLevelItem(1));
    EXPECT_TRUE(d.acEdit->isEnabled());
    tavtest::ModalSteps steps;
    steps.Then<TfmEditDevice>([](TfmEditDevice& e) {
        EXPECT_EQ(e.objectName(), "fmEditDeviceWL");
        EXPECT_EQ(e.EntryId, 100);
        EXPECT_EQ(e.edMAC->text(), "(00:BB:00:00:00:00)");
        EXPECT_EQ(e.edName->text(), "Off");
        EXPECT_FALSE(e.cbEnabled->isChecked());
        e.edName->setText("Still off");
        e.btOK->click();
    });
    d.acEdit->trigger();
    EXPECT_TRUE(steps.Done());
    EXPECT_EQ(Shown(d)[1], "(00:BB:00:00:00:00)|Still off|No");
    // Cancel in the entry dialog leaves the row alone.
    tavtest::ModalSteps cancel;
    cancel.Then<TfmEditDevice>([](TfmEditDevice& e) {
        e.edName->setText("changed");
        e.btCancel->click();
    });
    d.acEdit->trigger();
    EXPECT_EQ(Shown(d)[1], "(00:BB:00:00:00:00)|Still off|No");
    d.btOK->click();
    EXPECT_EQ(Rows("WHITE_LIST"),
              (QStringList{"(00:CC:00:00:00:00)=1", "(00:AA:00:00:00:00)=1", "(00:BB:00:00:00:00)=0"}));
    EXPECT_TRUE(boxes.Asked().empty());
}

TEST_F(DeviceListTest, MacEditUpperCasesTypingAndPasteAndStopsAtNineteen) {
    TfmBlackList list(conn.get());
    tavtest::ModalSteps steps;
    QString typed, pasted, mixed;
    steps.Then<TfmEditDevice>([&](TfmEditDevice& e) {
        EXPECT_EQ(e.objectName(), "fmEditDeviceBL");
        QTest::keyClicks(e.edMAC, "(00:1e:3a:47:9c:4b)x");
        typed = e.edMAC->text();
        e.edMAC->clear();
        QGuiApplication::clipboard()->setText("(aa:bb:cc:dd:ee:ff)(11:22");
        e.edMAC->paste();
        pasted = e.edMAC->text();
        // A paste into a full edit adds nothing.
        e.edMAC->setCursorPosition(3);
        e.edMAC->paste();
        mixed = e.edMAC->text();
        e.btOK->click();
    });
    list.acAdd->trigger();
    EXPECT_EQ(typed, "(00:1E:3A:47:9C:4B)");
    EXPECT_EQ(pasted, "(AA:BB:CC:DD:EE:FF)");
    EXPECT_EQ(mixed, "(AA:BB:CC:DD:EE:FF)");
    list.btOK->click();
    EXPECT_EQ(Rows("BLACK_LIST"), QStringList{"(AA:BB:CC:DD:EE:FF)=1"});
}

TEST_F(DeviceListTest, FailingProceduresKeepTheirDialogsAndRowsAndShowTheDatabaseMessage) {
    Exec("create exception E_KEEP 'This entry is protected'");
    Exec("create trigger WHITE_LIST_KEEP for WHITE_LIST before delete as begin "
         "if (old.WHITE_LIST_NAME = 'keep') then exception E_KEEP; end");
    Exec("insert into WHITE_LIST (WHITE_LIST_MAC, WHITE_LIST_NAME) values ('(00:00:00:00:00:01)', 'keep')");
    Exec("insert into WHITE_LIST (WHITE_LIST_MAC, WHITE_LIST_NAME) values ('(00:00:00:00:00:02)', 'drop')");
    TfmWhiteList d(conn.get());
    d.show();
    d.ListView->setCurrentItem(d.ListView->topLevelItem(0));
    boxes.Answer(TMsgResult::Yes);
    d.acDelete->trigger();
    ASSERT_EQ(boxes.Asked().size(), 2u);
    EXPECT_EQ(boxes.Asked()[0].text, "Are you sure you want to delete selected device?");
    EXPECT_EQ(boxes.Asked()[0].type, TMsgDlgType::Confirmation);
    EXPECT_EQ(boxes.Asked()[1].type, TMsgDlgType::Error);
    EXPECT_TRUE(boxes.Asked()[1].text.contains("This entry is protected")) << boxes.Asked()[1].text.toStdString();
    EXPECT_EQ(d.ListView->topLevelItemCount(), 2);
    // No deletes nothing; the dialog stays usable for the next row.
    boxes.Clear();
    boxes.Answer(TMsgResult::No);
    d.acDelete->trigger();
    EXPECT_EQ(d.ListView->topLevelItemCount(), 2);
    d.ListView->setCurrentItem(d.ListView->topLevelItem(1));
    boxes.Answer(TMsgResult::Yes);
    d.acDelete->trigger();
    EXPECT_EQ(Shown(d), QStringList{"(00:00:00:00:00:01)|keep|Yes"});

    // An entry the procedure refuses: the entry dialog stays open with the error, and a corrected
    // name goes through.
    Exec("create trigger WHITE_LIST_REFUSE for WHITE_LIST before insert as begin "
         "if (new.WHITE_LIST_NAME = 'refused') then exception E_KEEP; end");
    boxes.Clear();
    tavtest::ModalSteps steps;
    bool stayed = false;
    steps.Then<TfmEditDevice>([&](TfmEditDevice& e) {
        e.edMAC->setText("(00:00:00:00:00:03)");
        e.edName->setText("refused");
        e.btOK->click();
        stayed = e.isVisible();
        e.edName->setText("short");
        e.btOK->click();
    });
    d.acAdd->trigger();
    EXPECT_TRUE(stayed);
    ASSERT_EQ(boxes.Asked().size(), 1u);
    EXPECT_EQ(boxes.Asked()[0].type, TMsgDlgType::Error);
    EXPECT_EQ(Shown(d).size(), 2);
    d.btOK->click();
    EXPECT_EQ(Rows("WHITE_LIST"), (QStringList{"(00:00:00:00:00:01)=1", "(00:00:00:00:00:03)=1"}));
}

TEST_F(DeviceListTest, EntryNameStopsAtEightyAndAnEmptyMacIsRefusedByName) {
    TfmWhiteList d(conn.get());
    tavtest::ModalSteps steps;
    QString typed;
    bool stayed = false;
    steps.Then<TfmEditDevice>([&](TfmEditDevice& e) {
        e.edName->setText(QString(100, QLatin1Char('n')));
        QTest::keyClicks(e.edName, "x");
        typed = e.edName->text();
        e.btOK->click();
        e.edMAC->setText(" \t  "); // blanks are no address either
        e.btOK->click();
        stayed = e.isVisible();
        e.edMAC->setText("(00:00:00:00:00:04)");
        e.btOK->click();
        if (e.isVisible()) // refused: fail the checks below rather than wait here
            e.reject();
    });
    d.acAdd->trigger();
    EXPECT_TRUE(steps.Done());
    EXPECT_EQ(typed, QString(80, QLatin1Char('n')));
    EXPECT_TRUE(stayed);
    ASSERT_EQ(boxes.Asked().size(), 2u);
    EXPECT_EQ(boxes.Asked()[0].text, "\"MAC\" must not be empty.");
    EXPECT_EQ(boxes.Asked()[1].text, "\"MAC\" must not be empty.");
    d.btOK->click();
    EXPECT_EQ(Rows("WHITE_LIST"), QStringList{"(00:00:00:00:00:04)=1"});
}

// The station's check of a phone against the lists, on the procedure the senders call.
class ListMatchingTest : public tavlin::test::DatabaseSuite {
protected:
    static int Check(const std::string& mac) {
        auto& sp = Call("CHECK_DEVICE", {{"MAC", ibx::TValue(mac)},
                                         {"CAMPAIGN_ID", ibx::TValue(std::int64_t(1))},
                                         {"DONGLE_MAC", ibx::TValue(std::string("(00:11:22:33:44:55)"))}});
        const int status = sp.ParamByName("STATUS").AsInteger();
        Exec("delete from DEVICE_LOCKS");
        return status;
    }
};

TEST_F(ListMatchingTest, EntriesMatchWhateverTheirCaseParenthesesSeparatorsAndBlanks) {
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE) "
         "values (1, 'c', 0, 0)");
    const char* const entries[] = {"00:1e:3a:47:9c:42", "00-1E-3A-47-9C-43", " 00 1e 3a 47 9c 44 ", "001E3A479C45",
                                   "(00:1E:3A:47:9C:46)"};
    for (const char* list : {"BLACK_LIST", "WHITE_LIST"}) {
        const bool black = std::string(list) == "BLACK_LIST";
        Exec(std::string("update SETTINGS set SETTINGS_USE_BL = ") + (black ? "1" : "0") +
             ", SETTINGS_USE_WL = " + (black ? "0" : "1"));
        Exec(std::string("delete from ") + list);
        for (const char* e : entries)
            Exec(std::string("insert into ") + list + " (" + list + "_MAC) values ('" + e + "')");
        Exec(std::string("insert into ") + list + " (" + list + "_MAC, " + list +
             "_ENABLED) values ('00:1e:3a:47:9c:47', 0)");
        const int listed = black ? 1 : 5, unlisted = black ? 5 : 2;
        for (int last = 0x42; last <= 0x46; ++last) {
            char mac[32];
            std::snprintf(mac, sizeof mac, "(00:1E:3A:47:9C:%02X)", last);
            EXPECT_EQ(Check(mac), listed) << list << " " << mac;
        }
        // A disabled entry, a near miss and a different phone are not on the list.
        EXPECT_EQ(Check("(00:1E:3A:47:9C:47)"), unlisted) << list;
        EXPECT_EQ(Check("(00:1E:3A:47:9C:4F)"), unlisted) << list;
        EXPECT_EQ(Check("(01:1E:3A:47:9C:42)"), unlisted) << list;
        // The stored text stays as typed.
        EXPECT_EQ(Scalar(std::string("select count(*) from ") + list + " where " + list + "_MAC = '00:1e:3a:47:9c:42'")
                      .AsInteger(),
                  1);
        Exec("delete from PROCESSED");
    }
}

} // namespace

namespace {

TEST_F(DeviceListTest, DialogsRenderOffscreen) {
    const QString out = QStringLiteral(TAVLIN_TEST_FIREBIRD_LOCK "/../lists-%1.png");
    Exec("insert into BLACK_LIST (BLACK_LIST_MAC, BLACK_LIST_NAME, BLACK_LIST_ENABLED) "
         "values ('(00:1E:3A:47:9C:01)', 'Marta''s phone', 1)");
    Exec("insert into BLACK_LIST (BLACK_LIST_MAC, BLACK_LIST_NAME, BLACK_LIST_ENABLED) "
         "values ('00:21:09:5b:e2:7a', 'Kestrel K810', 0)");
    TfmBlackList list(conn.get());
    list.ListView->setCurrentItem(list.ListView->topLevelItem(0));
    list.show();
    const QImage shot = list.grab().toImage();
    EXPECT_EQ(list.windowTitle(), "Black List");
    EXPECT_EQ(list.laTitle->text(), "Manage the Black List");
    EXPECT_TRUE(shot.save(out.arg("blacklist")));
    tavtest::ModalSteps steps;
    steps.Then<TfmEditDevice>([&](TfmEditDevice& e) {
        EXPECT_TRUE(e.grab().toImage().save(out.arg("entry")));
        e.btCancel->click();
    });
    list.acEdit->trigger();
    EXPECT_TRUE(steps.Done());
    boxes.Answer(TMsgResult::Yes);
    list.btCancel->click();
}

} // namespace
