// A coupon from the air to the counter: the station serves a simulated phone a promotion
// with a coupon drawn on its picture, and the operator checks and redeems that coupon in
// the dialog the main window opens.
#include "PhoneRoads.h"
#include "QtTestApp.h"
#include "ScopedEnv.h"
#include "TestDatabase.h"
#include "checkcoupon.h"
#include "dbsettings.h"
#include "main.h"
#include "msgbox.h"
#include "promopicture.h"
#include "qt/MessageBridge.h"
#include "sim/air/Air.h"
#include "strings.h"
#include "translation.h"
#include "vcl/Registry.h"
#include "win32/Testing.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

const air::Address PhoneAddress{0x00, 0x1E, 0x3A, 0x00, 0x00, 0x42};

class CouponRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        win::MessageBridge::Install();
        ASSERT_TRUE(home.isValid());
        dataEnv.Set(home.filePath("data").toStdString());
        registryEnv.Set(home.filePath("registry").toStdString());
        Translator().SetFileName(home.filePath("langs.dat"));
        testDb = std::make_unique<tavlin::test::TestDatabase>();
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(SettingsKeyPath().toStdU16String(), true));
        reg.WriteString(u"UserName", u"SYSDBA");
        reg.WriteString(u"Password", u"pw");
        reg.WriteString(u"Path", QString::fromStdString(testDb->Path()).toStdU16String());
        reg.WriteString(u"Server", u"");

        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001);
        win::test::SetTimeScale(200);
        air::Radio radio;
        radio.present = true;
        radio.address = {0x00, 0x11, 0x22, 0x33, 0x44, 0x51};
        radio.name = "STATION";
        air::Air::Instance().SetRadio(1, radio);
        air::Phone p;
        p.address = PhoneAddress;
        p.name = "Customer";
        p.classOfDevice = 0x5A020C;
        p.inbox = home.filePath("inbox").toStdString();
        p.pairing.paired = true;
        air::Service s;
        s.uuid = air::Service::FromUuid16(air::kObexObjectPushUuid16);
        s.channel = 9;
        s.name = "OBEX Object Push";
        p.services.push_back(s);
        air::Air::Instance().AddPhone(p);
    }
    void TearDown() override {
        TCouponClock::NowHook = nullptr;
        window.reset();
        roads.reset();
        air::Air::Instance().Clear();
        win::test::SetTimeScale(1);
        Translator().SetFileName(QString());
    }

    void Exec(const std::string& sql) {
        ibx::TIBQuery q;
        q.SetTransaction(&window->IBTransaction);
        q.SetSQL(sql);
        q.ExecSQL();
        window->IBTransaction.CommitRetaining();
    }
    ibx::TValue Scalar(const std::string& sql) {
        ibx::TIBQuery q;
        q.SetTransaction(&window->IBTransaction);
        q.SetSQL(sql);
        q.Open();
        ibx::TValue v = q.Eof() ? ibx::TValue() : q.Fields(0).Value();
        q.Close();
        return v;
    }

    QTemporaryDir home;
    tavtest::ScopedEnv dataEnv{"XDG_DATA_HOME"}, registryEnv{"TAVLIN_REGISTRY_DIR"};
    std::unique_ptr<tavlin::test::TestDatabase> testDb;
    std::unique_ptr<tavtest::PhoneRoads> roads;
    TMessageBoxScript boxes;
    std::unique_ptr<TfmMain> window;
};

// Runs the operator's steps in the dialog the action opens, then closes it.
void WithModalCoupon(QAction* action, const std::function<void(TfmCheckCoupon&)>& steps) {
    bool ran = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* d = qobject_cast<TfmCheckCoupon*>(QApplication::activeModalWidget());
        if (!d || ran)
            return;
        ran = true;
        poll.stop();
        steps(*d);
        d->btClose->click();
    });
    poll.start();
    action->trigger();
    EXPECT_TRUE(ran);
}

QStringList Values(const TfmCheckCoupon& d) {
    QStringList values;
    for (int i = 0; i < d.ListView->topLevelItemCount(); ++i)
        values << d.ListView->topLevelItem(i)->text(1);
    return values;
}

} // namespace

TEST_F(CouponRoadTest, CouponOnTheReceivedPictureIsCheckedAndRedeemed) {
    window = std::make_unique<TfmMain>();
    ASSERT_TRUE(window->Connected);
    ASSERT_TRUE(window->vyrAPI.IsLoaded());
    roads = std::make_unique<tavtest::PhoneRoads>();
    Exec("update SETTINGS set SETTINGS_MAX_CONN = 4, SETTINGS_SLEEP = 1, SETTINGS_DISC_TIMEOUT = 1, "
         "SETTINGS_CONNECT_TIMEOUT = 255, SETTINGS_DELAY = 1, SETTINGS_USE_BL = 0, SETTINGS_USE_WL = 0");
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
         "CAMPAIGNS_FILE_NAME, CAMPAIGNS_VALIGN, CAMPAIGNS_HALIGN, CAMPAIGNS_USE_COUPON, CAMPAIGNS_MESSAGE, "
         "CAMPAIGNS_FONT_NAME, CAMPAIGNS_FONT_SIZE, CAMPAIGNS_FONT_STYLE, CAMPAIGNS_FONT_COLOR, "
         "CAMPAIGNS_VALID_IN) values (3, 'Coffee week', 2, 0, 'promo.jpg', 1, 1, 1, '10% off', 'Sans', 10, 1, 0, 48)");
    window->LoadCampaigns();

    window->acSenderStart->trigger();
    ASSERT_TRUE(window->Running);
    const std::string phoneMac = air::AddressToText(PhoneAddress);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !Scalar("select PROCESSED_COUPON from PROCESSED where PROCESSED_COUPON is not null").IsNull(); },
        30000));
    window->acSenderStop->trigger();
    ASSERT_FALSE(window->Running);

    const auto coupon = static_cast<qint32>(Scalar("select PROCESSED_COUPON from PROCESSED").AsInt64());
    const QString code = CouponText(coupon);
    const ibx::TDateTime sentDb = Scalar("select PROCESSED_DATE_TIME from PROCESSED").AsDateTime();
    const QDateTime sent(QDate(sentDb.Date.Year, sentDb.Date.Month, sentDb.Date.Day),
                         QTime(sentDb.Time.Hour, sentDb.Time.Minute, sentDb.Time.Second, sentDb.Time.Fraction / 10));
    EXPECT_EQ(Scalar("select PROCESSED_VALID_TO from PROCESSED").AsInt64(), 48);
    EXPECT_EQ(Scalar("select d.DEVICES_MAC from PROCESSED p join DEVICES d on d.DEVICES_ID = p.PROCESSED_DEVICES_ID")
                  .AsString(),
              phoneMac);

    // The phone's picture is the promotion with exactly this code drawn on it.
    QFile received(home.filePath("inbox/promo.jpg"));
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    const QByteArray picture = received.readAll();
    TPromoText text;
    text.Message = QStringLiteral("10% off");
    text.Font = TPromoFont{QStringLiteral("Sans"), 10, PromoStyleBold, 0};
    text.HAlign = text.VAlign = 1;
    text.Coupon = code;
    EXPECT_EQ(picture, RenderPromoPicture(QByteArray(), text));
    text.Coupon = CouponText(coupon ^ 1);
    EXPECT_NE(picture, RenderPromoPicture(QByteArray(), text));

    // An hour after the push the customer shows the code, typed as it reads or in lower case.
    TCouponClock::NowHook = [sent] { return sent.addSecs(3600); };
    WithModalCoupon(window->acToolsCheckCoupon, [&](TfmCheckCoupon& d) {
        d.edCode->setText(code.toLower());
        d.btCheck->click();
        EXPECT_EQ(Values(d), (QStringList{"Coffee week", QString::fromStdString(phoneMac), "Customer",
                                         DateTimeText(sent), DateTimeText(sent.addSecs(48 * 3600))}));
        ASSERT_TRUE(d.btUse->isEnabled());
        d.btUse->click();
        EXPECT_FALSE(d.btUse->isEnabled());
        EXPECT_EQ(Values(d).value(4), QString::fromUtf8(STR_USED.text));
    });
    EXPECT_EQ(Scalar("select PROCESSED_VALID_TO from PROCESSED").AsInt64(), 0);

    // The same code shown again, another time the dialog is opened: already used.
    WithModalCoupon(window->acToolsCheckCoupon, [&](TfmCheckCoupon& d) {
        d.edCode->setText(code);
        d.btCheck->click();
        EXPECT_EQ(Values(d).value(4), QString::fromUtf8(STR_USED.text));
        EXPECT_FALSE(d.btUse->isEnabled());
    });
    EXPECT_TRUE(boxes.Asked().empty());
}
