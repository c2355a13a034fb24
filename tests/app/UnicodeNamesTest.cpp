// Names in any script, as operators type them and phones announce them: stored, read back and
// shown as they are by the station on the embedded engine and through a database server, and a
// database made by the earlier, one-code-page schema still serving phones while it refuses, in
// words, what it cannot hold.
#include "AirPhones.h"
#include "Bytes.h"
#include "PhoneRoads.h"
#include "PrivateServer.h"
#include "QtTestApp.h"
#include "StationHome.h"
#include "StationSettings.h"
#include "TestDatabase.h"
#include "TestImages.h"
#include "accepted.h"
#include "checkcoupon.h"
#include "details.h"
#include "devicelist.h"
#include "editdevice.h"
#include "main.h"
#include "msgbox.h"
#include "promocamp.h"
#include "promopicture.h"
#include "promopreview.h"
#include "qt/MessageBridge.h"
#include "sim/air/Air.h"
#include "sim/win32/Testing.h"
#include "strings.h"
#include "textcamp.h"
#include "vcl/Registry.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGlyphRun>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextLayout>
#include <QTreeWidget>

#include <fstream>
#include <map>

namespace {

const QString Campaign =
    QStringLiteral("Caf\u00e9 \u00d1and\u00fa \u2013 \u043a\u043e\u0444\u0435 \u2615 \u5496\u5561");
const QString Message = QStringLiteral("Gr\u00fc\u00dfe \u2013 \u043a\u043e\u0444\u0435");
const QString Cyrillic = QStringLiteral("\u0418\u0432\u0430\u043d");
// The phones' names; the last one fits the Cyrillic code page too.
const QStringList Names{QStringLiteral("Zo\u00eb \u00c5ngstr\u00f6m \u00c7elik"),
                        QStringLiteral("\u738b\u5c0f\u660e\u7684\u624b\u673a"),
                        QString::fromUtf8("Emoji \xF0\x9F\x93\xB1 Phone"), Cyrillic};

air::Address PhoneAddress(int i) {
    return {0x00, 0x1E, 0x3A, 0x00, 0x00, static_cast<uint8_t>(i + 1)};
}
QString PhoneText(int i) {
    return QString::fromStdString(air::AddressToText(PhoneAddress(i)));
}

// Whether the installed fonts draw every character of the text (no empty boxes).
bool Drawable(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns())
        for (quint32 glyph : run.glyphIndexes())
            if (glyph == 0)
                return false;
    return true;
}

QStringList Column(const QTreeWidget* list, int column) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    texts.sort();
    return texts;
}

QStringList Sorted(QStringList list) {
    list.sort();
    return list;
}

class UnicodeNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        win::MessageBridge::Install();
        ASSERT_TRUE(home.isValid());
        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001);
        win::test::SetTimeScale(200);
        tavtest::PlugRadio(1, 0x51);
        for (int i = 0; i < int(Names.size()); ++i)
            air::Air::Instance().AddPhone(
                tavtest::PushPhone(PhoneAddress(i), Names[i].toStdString(), Inbox(i).toStdString()));
    }
    void TearDown() override {
        window.reset();
        roads.reset();
        air::Air::Instance().Clear();
        win::test::SetTimeScale(1);
    }

    // The station on the database the settings name; `phones` of the air's phones in range.
    void Open(int phones) {
        for (int i = phones; i < int(Names.size()); ++i)
            air::Air::Instance().SetPhoneInRange(PhoneAddress(i), false);
        window = std::make_unique<TfmMain>();
        ASSERT_TRUE(window->Connected);
        roads = std::make_unique<tavtest::PhoneRoads>();
        Exec("delete from CAMPAIGNS");
        Exec("update SETTINGS set SETTINGS_MAX_CONN = 4, SETTINGS_SLEEP = 1, SETTINGS_DISC_TIMEOUT = 1, "
             "SETTINGS_CONNECT_TIMEOUT = 255, SETTINGS_DELAY = 1, SETTINGS_MAX_PER_DONGLE = 50, SETTINGS_USE_BL = 0, "
             "SETTINGS_USE_WL = 0, SETTINGS_REJECT_RETRY = 0, SETTINGS_IGNORE_RETRY = 0");
    }
    // Sends until every phone in range holds a PROCESSED row, then stops.
    void Serve(int phones) {
        TfmMain& w = *window;
        // The process list's row of each phone, right after the station took its decision.
        for (int tag = 0; tag < 4; ++tag) {
            vyr::TvyrProximitySender* s = w.Sender(tag);
            auto accept = s->OnAcceptDevice;
            s->OnAcceptDevice = [this, accept, &w](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, bool& ok) {
                accept(o, d, ok);
                const QString mac = QString::fromStdU16String(d->Address());
                for (int i = 0; i < w.lvProcess->topLevelItemCount(); ++i)
                    if (w.lvProcess->topLevelItem(i)->text(0) == mac)
                        shownInProcessList << w.lvProcess->topLevelItem(i)->text(1);
            };
        }
        w.acSenderStart->trigger();
        ASSERT_TRUE(w.Engine->Running);
        const bool done = QTest::qWaitFor([&] { return Count("select count(*) from PROCESSED") >= phones; }, 30000);
        w.acSenderStop->trigger();
        ASSERT_TRUE(done) << Count("select count(*) from PROCESSED");
    }
    void Exec(const std::string& sql) { tavlin::test::ExecCommitted(window->IBTransaction, sql); }
    ibx::TValue Scalar(const QString& sql) {
        window->IBTransaction.CommitRetaining();
        ibx::TIBQuery q;
        q.SetTransaction(&window->IBTransaction);
        q.SetSQL(sql.toStdString());
        q.Open();
        return q.Eof() ? ibx::TValue() : q.Fields(0).Value();
    }
    int Count(const QString& sql) { return Scalar(sql).AsInteger(); }
    QString DeviceName(int i) {
        const ibx::TValue v = Scalar("select DEVICES_NAME from DEVICES where DEVICES_MAC = '" + PhoneText(i) + "'");
        return v.IsNull() ? QStringLiteral("<null>") : QString::fromStdString(v.AsString());
    }
    QString Inbox(int i) const { return home.filePath("inbox" + QString::number(i)); }
    QByteArray Received(int i, const QString& name) const {
        QFile f(Inbox(i) + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList Shown() const {
        QStringList texts;
        for (const TMsgRecord& r : boxes.Asked())
            texts << r.text;
        return texts;
    }

    // The three phones and their white-list entries, and a promotion with a coupon, through the
    // station's own dialogs; then everything that shows them.
    void ServeAndShowTheNames() {
        Open(3);
        TfmMain& w = *window;
        Exec("update SETTINGS set SETTINGS_USE_WL = 1");
        {
            TfmWhiteList list(&w.IBDatabase);
            for (int i = 0; i < 3; ++i) {
                TfmEditDeviceWL entry(list.IBTransaction.get(), &list);
                entry.edMAC->setText(PhoneText(i));
                entry.edName->setText(Names[i]);
                entry.accept();
                ASSERT_EQ(entry.result(), QDialog::Accepted);
            }
            list.done(QDialog::Accepted);
        }
        TPromoFont font;
        {
            TfmPromoCamp ed(&w.IBDatabase);
            ed.show();
            ed.edCampaignName->setText(Campaign);
            ed.edMessage->setText(Message);
            ed.edMessageChange();
            ed.imLogo->SetPicture(tavtest::Gradient(40, 50));
            ed.edValidIn->setText("48");
            font = ed.imLogo->Font();
            ed.accept();
            ASSERT_FALSE(ed.isVisible()) << Shown().join("\n").toStdString();
        }
        w.acCampaignsRefresh->trigger();
        ASSERT_EQ(w.lvCampaigns->topLevelItemCount(), 1);
        EXPECT_EQ(w.lvCampaigns->topLevelItem(0)->text(0), Campaign);
        const int id = Count("select CAMPAIGNS_ID from CAMPAIGNS");
        EXPECT_EQ(QString::fromStdString(Scalar("select CAMPAIGNS_MESSAGE from CAMPAIGNS").AsString()), Message);

        Serve(3);
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(shownInProcessList.contains(Names[i])) << i;

        // The picture each phone received carries the message, drawn from the stored text.
        const ibx::TBytes stored = Scalar("select CAMPAIGNS_DATA from CAMPAIGNS").AsBytes();
        std::map<QString, QString> coupons; // phone name -> coupon text
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(DeviceName(i), Names[i]);
            TPromoText text;
            text.Message = Message;
            text.Font = font;
            text.HAlign = text.VAlign = 1;
            text.Coupon = CouponText(Count("select PROCESSED_COUPON from PROCESSED p join DEVICES d on d.DEVICES_ID = "
                                           "p.PROCESSED_DEVICES_ID where d.DEVICES_MAC = '" +
                                           PhoneText(i) + "'"));
            coupons[Names[i]] = text.Coupon;
            const QByteArray expected = RenderPromoPicture(
                QByteArray(reinterpret_cast<const char*>(stored.data()), qsizetype(stored.size())), text);
            EXPECT_TRUE(Received(i, "promo.jpg") == expected) << i;
        }

        TfmAccepted accepted(&w.IBDatabase);
        accepted.SetCampaign(id);
        EXPECT_EQ(Column(accepted.ListView, 1), Sorted(Names.mid(0, 3)));
        TfmDetails details(&w.IBDatabase);
        EXPECT_EQ(Column(details.ListView, 0), QStringList(3, Campaign));
        EXPECT_EQ(Column(details.ListView, 2), Sorted(Names.mid(0, 3)));
        TfmCheckCoupon check(&w.IBDatabase);
        check.edCode->setText(coupons[Names[1]]);
        check.btCheck->click();
        ASSERT_EQ(check.ListView->topLevelItemCount(), 5);
        EXPECT_EQ(check.ListView->topLevelItem(0)->text(1), Campaign);
        EXPECT_EQ(check.ListView->topLevelItem(2)->text(1), Names[1]);
        TfmWhiteList list(&w.IBDatabase);
        EXPECT_EQ(Column(list.ListView, 1), Sorted(Names.mid(0, 3)));
        list.done(QDialog::Accepted);

        // The fonts the station draws with have every character.
        for (const QString& name : Names.mid(0, 3) + QStringList{Campaign, Message})
            EXPECT_TRUE(Drawable(name, w.lvCampaigns->font())) << name.toStdString();
        EXPECT_TRUE(Shown().isEmpty()) << Shown().join("\n").toStdString();
    }

    tavtest::StationHome home;
    TMessageBoxScript boxes;
    // The databases outlive the station that uses them.
    std::unique_ptr<tavlin::test::TestDatabase> db;
    std::unique_ptr<tavlin::test::PrivateServer> server;
    std::unique_ptr<tavtest::PhoneRoads> roads;
    std::unique_ptr<TfmMain> window;
    QStringList shownInProcessList;
};

} // namespace

TEST_F(UnicodeNamesTest, ShownIntactOnTheEmbeddedEngine) {
    db = std::make_unique<tavlin::test::TestDatabase>();
    ASSERT_TRUE(tavtest::WriteDbSettings(QString::fromStdString(db->Path())));
    ServeAndShowTheNames();
}

TEST_F(UnicodeNamesTest, ShownIntactThroughADatabaseServer) {
    ASSERT_NO_THROW(server = std::make_unique<tavlin::test::PrivateServer>());
    ASSERT_TRUE(
        tavtest::WriteDbSettings(QString::fromStdString(server->Path()), QString::fromStdString(server->Server())));
    {
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(SettingsKeyPath().toStdU16String(), false));
        reg.WriteString(u"Password", QString(tavlin::test::PrivateServer::Password()).toStdU16String());
    }
    ServeAndShowTheNames();
}

TEST_F(UnicodeNamesTest, ADatabaseOfTheEarlierSchemaServesAndRefusesWhatItCannotHold) {
    // The schema as it was: every text in the Cyrillic code page.
    std::string schema = tavtest::ReadFile(tavlin::test::TestDatabase::SchemaPath());
    for (size_t at; (at = schema.find("CHARACTER SET UTF8")) != std::string::npos;)
        schema.replace(at, 18, "CHARACTER SET WIN1251");
    const std::string path = home.filePath("old-schema.sql").toStdString();
    std::ofstream(path) << schema;
    db = std::make_unique<tavlin::test::TestDatabase>(path);
    ASSERT_TRUE(tavtest::WriteDbSettings(QString::fromStdString(db->Path())));
    Open(4);
    TfmMain& w = *window;
    ASSERT_EQ(Count("select RDB$CHARACTER_SET_ID from RDB$FIELDS f join RDB$RELATION_FIELDS r on "
                    "r.RDB$FIELD_SOURCE = f.RDB$FIELD_NAME where r.RDB$FIELD_NAME = 'CAMPAIGNS_NAME'"),
              52); // WIN1251

    ibx::TIBQuery add;
    add.SetTransaction(&w.IBTransaction);
    add.SetSQL("insert into CAMPAIGNS (CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, CAMPAIGNS_FILE_NAME, "
               "CAMPAIGNS_DATA) values (:name, 0, 0, 'menu.txt', 'Menu')");
    add.ParamByName("name").SetAsWideString(Cyrillic.toStdU16String());
    add.ExecSQL();
    w.IBTransaction.CommitRetaining();
    w.acCampaignsRefresh->trigger();
    ASSERT_EQ(w.lvCampaigns->topLevelItemCount(), 1);
    EXPECT_EQ(w.lvCampaigns->topLevelItem(0)->text(0), Cyrillic);

    // Every phone is served; a name the database cannot hold is left out, never altered.
    Serve(4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Received(i, "menu.txt"), "Menu") << i;
    EXPECT_EQ(DeviceName(3), Cyrillic);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(DeviceName(i), "") << i;
    EXPECT_EQ(Count("select count(*) from DEVICES where DEVICES_NAME containing '?'"), 0);
    EXPECT_TRUE(Shown().isEmpty()) << Shown().join("\n").toStdString();

    // The operator's texts: refused in words, nothing stored, the dialog open for a correction.
    const QString unstorable = QString::fromUtf8(STR_UNSTORABLE_TEXT.text);
    {
        TfmTextCamp ed(&w.IBDatabase);
        ed.show();
        ed.edCampaignName->setText(Campaign);
        ed.accept();
        EXPECT_EQ(Shown(), QStringList{unstorable});
        EXPECT_TRUE(ed.isVisible());
        EXPECT_EQ(Count("select count(*) from CAMPAIGNS"), 1);
        ed.edCampaignName->setText(Cyrillic + " 2");
        ed.accept();
        EXPECT_FALSE(ed.isVisible());
    }
    EXPECT_EQ(Count("select count(*) from CAMPAIGNS"), 2);
    boxes.Clear();
    ibx::TIBTransaction tr;
    tr.SetDefaultDatabase(&w.IBDatabase);
    tr.StartTransaction();
    {
        TfmEditDeviceWL entry(&tr, nullptr);
        entry.show();
        entry.edMAC->setText(PhoneText(1));
        entry.edName->setText(Names[1]);
        entry.accept();
        EXPECT_EQ(Shown(), QStringList{unstorable});
        EXPECT_TRUE(entry.isVisible());
    }
    tr.Commit();
    EXPECT_EQ(Count("select count(*) from WHITE_LIST"), 0);
}
