// The device picker and its wait box over the simulated air, and the manual send of one file
// to one phone: what reaches the phone's inbox, the status line on every way a push can end.
#include "StationHome.h"
#include "AirPhones.h"
#include "ModalSteps.h"
#include "PhoneRoads.h"
#include "QtTestApp.h"
#include "ScopedEnv.h"
#include "msgbox.h"
#include "qt/MessageBridge.h"
#include "searchfordevices.h"
#include "searching.h"
#include "sendtodevice.h"
#include "sim/air/Air.h"
#include "translation.h"
#include "vyrErrors.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <optional>

namespace {

air::Address PhoneAddress(int i) {
    return {0x00, 0x1E, 0x3A, 0x47, 0x9C, static_cast<uint8_t>(i)};
}
QString PhoneText(int i) {
    return QString::fromStdString(air::AddressToText(PhoneAddress(i)));
}

class AirDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        win::MessageBridge::Install();
        ASSERT_TRUE(home.isValid());
        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001); // a 15 s search ends at once
        tavtest::PlugRadio(1, 0x51);              // Microsoft
    }
    void TearDown() override {
        roads.reset();
        air::Air::Instance().Clear();
    }
    air::Phone& AddPhone(int i, const std::string& name) {
        phones.push_back(tavtest::PushPhone(PhoneAddress(i), name, Inbox(i).toStdString(), false));
        return phones.back();
    }
    // Puts the phones into the air and loads the library.
    void Start() {
        for (const auto& p : phones)
            air::Air::Instance().AddPhone(p);
        roads.emplace();
    }
    QString Inbox(int i) const { return home.filePath("inbox" + QString::number(i)); }
    QString WriteFile(const QString& name, int size) const {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char((i * 7 + i / 251) & 0xFF);
        QFile f(home.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    static QStringList Captions(const TfmSearchForDevices& p) {
        QStringList out;
        for (int i = 0; i < p.ListView->count(); ++i)
            out << p.ListView->item(i)->text();
        return out;
    }

    tavtest::StationHome home;
    std::vector<air::Phone> phones;
    std::optional<tavtest::PhoneRoads> roads;
    TMessageBoxScript boxes;
};

const QString UnableDiscover = "Unale to start searching for remote devices.";

TEST_F(AirDialogTest, PickerListsEveryPhoneByNameOrAddressAndKeepsItsListWhenNoSearchCanStart) {
    // Without the library there is no radio to search on.
    {
        TfmSearchForDevices picker;
        picker.btSearchClick();
        ASSERT_EQ(boxes.Asked().size(), 1u);
        EXPECT_EQ(boxes.Asked()[0].text, UnableDiscover);
        EXPECT_EQ(boxes.Asked()[0].type, TMsgDlgType::Error);
        EXPECT_EQ(picker.ListView->count(), 0);
        EXPECT_FALSE(picker.btOK->isEnabled());
    }
    boxes.Clear();
    AddPhone(1, "Marta's phone");
    AddPhone(2, "").nameFailures = 0;              // no name at all
    AddPhone(3, "Orbit Slide 3").nameFailures = 9; // answers at the tenth read
    AddPhone(4, "Too shy").nameFailures = 10;      // never within ten reads
    Start();

    TfmSearchForDevices picker;
    picker.btSearchClick();
    EXPECT_TRUE(boxes.Asked().empty());
    QStringList captions = Captions(picker);
    captions.sort();
    QStringList expected{"Marta's phone", PhoneText(2), "Orbit Slide 3", PhoneText(4)};
    expected.sort();
    EXPECT_EQ(captions, expected);
    // Each item owns its device; its tip is the address.
    for (int i = 0; i < picker.ListView->count(); ++i) {
        const QListWidgetItem* item = picker.ListView->item(i);
        ASSERT_NE(TfmSearchForDevices::ItemDevice(item), nullptr);
        EXPECT_EQ(item->toolTip(), QString::fromStdU16String(TfmSearchForDevices::ItemDevice(item)->Address()));
    }
    EXPECT_FALSE(picker.btOK->isEnabled());
    picker.ListView->setCurrentRow(0);
    EXPECT_TRUE(picker.btOK->isEnabled());
    EXPECT_EQ(picker.selectedAddress(), picker.ListView->item(0)->toolTip());
    EXPECT_EQ(picker.selectedCaption(), picker.ListView->item(0)->text());
    picker.ListView->clearSelection();
    EXPECT_FALSE(picker.btOK->isEnabled());
    EXPECT_EQ(picker.selectedDevice(), nullptr);

    // A search that cannot start leaves the list as it was.
    roads.reset();
    picker.btSearchClick();
    ASSERT_EQ(boxes.Asked().size(), 1u);
    EXPECT_EQ(boxes.Asked()[0].text, UnableDiscover);
    EXPECT_EQ(picker.ListView->count(), 4);
}

TEST_F(AirDialogTest, WaitBoxClosesOnlyWhenTheSearchHasEnded) {
    air::Air::Instance().SetTimeScale(1); // the search would take 15 s
    AddPhone(1, "Marta's phone");
    Start();
    TfmSearchForDevices picker;
    tavtest::ModalSteps steps;
    bool refused = false;
    steps.Then<TfmSearching>(
        [&](TfmSearching& box) {
            // Esc, reject and a close request are all refused while the search runs.
            QTest::keyClick(&box, Qt::Key_Escape);
            box.reject();
            box.close();
            refused = box.isVisible() && !box.Finished;
            box.btCancel->click();
        },
        [](TfmSearching& box) { return box.vyrBluetoothDiscovery.Running(); });
    picker.btSearchClick();
    EXPECT_TRUE(steps.Done());
    EXPECT_TRUE(refused);
    EXPECT_EQ(picker.ListView->count(), 0);
    EXPECT_FALSE(picker.btOK->isEnabled());
    EXPECT_TRUE(boxes.Asked().empty());

    // A radio whose stack is missing cannot search: the box shows the error and closes instead of hanging.
    vyr::TvyrBluetoothRadio toshiba(vyr::baToshiba);
    TfmSearching box;
    box.Radio->Assign(&toshiba);
    EXPECT_EQ(box.exec(), QDialog::Rejected);
    EXPECT_TRUE(box.Finished);
    ASSERT_EQ(boxes.Asked().size(), 1u);
    EXPECT_EQ(boxes.Asked()[0].text, UnableDiscover);
    EXPECT_EQ(box.Devices->Count(), 0);
}

class SendToDeviceTest : public AirDialogTest {
protected:
    // A dialog with the phone chosen and the file loaded, as Find and Load leave them.
    void Prepare(TfmSendToDevice& d, int phone, const QString& file) {
        d.DeviceAddress = PhoneText(phone);
        d.edDevice->setText(PhoneText(phone));
        d.edFile->setText(file);
    }
    static bool WaitIdle(TfmSendToDevice& d) {
        return QTest::qWaitFor([&] { return d.btSend->isEnabled(); }, 30000);
    }
    static QString SendError(int code) {
        return "Unable to send a file: " + QString::fromStdU16String(vyr::GetErrorText(code));
    }
};

TEST_F(SendToDeviceTest, FileArrivesWholeWithProgressAndASecondSendConnectsAgain) {
    AddPhone(1, "Marta's phone").obex.maxPacket = 1024;
    Start();
    const QString file = WriteFile("offer.jpg", 50000);
    TfmSendToDevice d;
    d.show();
    EXPECT_EQ(d.laStatus->text(), "Idle");
    Prepare(d, 1, file);
    std::vector<int> progress;
    QObject::connect(d.ProgressBar, &QProgressBar::valueChanged, [&](int v) { progress.push_back(v); });
    d.btSend->click();
    EXPECT_FALSE(d.btSend->isEnabled());
    EXPECT_FALSE(d.btFind->isEnabled());
    EXPECT_FALSE(d.sbLoad->isEnabled());
    ASSERT_TRUE(WaitIdle(d));
    EXPECT_EQ(d.laStatus->text(), "Send complete with succes.");
    QFile got(Inbox(1) + "/offer.jpg");
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    QFile sent(file);
    ASSERT_TRUE(sent.open(QIODevice::ReadOnly));
    EXPECT_TRUE(got.readAll() == sent.readAll());
    EXPECT_EQ(d.ProgressBar->maximum(), 50000);
    EXPECT_EQ(d.ProgressBar->value(), 50000);
    ASSERT_GE(progress.size(), 3u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    // The second send starts from a fresh connection and reaches the phone again.
    ASSERT_TRUE(QFile::remove(Inbox(1) + "/offer.jpg"));
    int connects = 0;
    d.vyrOPPClient.OnConnect = [&](vcl::TObject* s, int error) {
        ++connects;
        d.vyrOPPClientConnect(s, error);
    };
    d.btSend->click();
    ASSERT_TRUE(WaitIdle(d));
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(d.laStatus->text(), "Send complete with succes.");
    EXPECT_TRUE(QFile::exists(Inbox(1) + "/offer.jpg"));
    EXPECT_TRUE(boxes.Asked().empty());
}

TEST_F(SendToDeviceTest, EveryFailureEndsOnTheStatusLineWithTheControlsBack) {
    AddPhone(1, "Refuser").obex.mode = air::ObexMode::Refuse;
    auto& dropper = AddPhone(2, "Dropper");
    dropper.obex.mode = air::ObexMode::DropMidPut;
    dropper.obex.after = 2;
    dropper.obex.maxPacket = 1024;
    AddPhone(3, "Marta's phone");
    Start();
    const QString file = WriteFile("card.vcf", 20000);
    TfmSendToDevice d;
    d.show();

    // Missing choices are asked for in order; nothing connects.
    d.edFile->setText(file);
    d.btSend->click();
    d.DeviceAddress = PhoneText(3);
    d.edDevice->setText(PhoneText(3));
    d.edFile->clear();
    d.btSend->click();
    ASSERT_EQ(boxes.Asked().size(), 2u);
    EXPECT_EQ(boxes.Asked()[0].text, "Select device");
    EXPECT_EQ(boxes.Asked()[1].text, "Select file");
    EXPECT_EQ(boxes.Asked()[1].type, TMsgDlgType::Warning);
    EXPECT_EQ(d.laStatus->text(), "Idle");

    // The refusing phone.
    Prepare(d, 1, file);
    d.btSend->click();
    ASSERT_TRUE(WaitIdle(d));
    EXPECT_TRUE(d.laStatus->text().startsWith("Unable to send a file: ")) << d.laStatus->text().toStdString();
    EXPECT_NE(d.laStatus->text(), "Unable to send a file: ");
    EXPECT_FALSE(QDir(Inbox(1)).exists("card.vcf"));

    // The phone that drops the link in the middle of the push.
    Prepare(d, 2, file);
    d.btSend->click();
    ASSERT_TRUE(WaitIdle(d));
    EXPECT_TRUE(d.laStatus->text().startsWith("Unable to send a file: ")) << d.laStatus->text().toStdString();
    EXPECT_FALSE(QDir(Inbox(2)).exists("card.vcf"));

    // The file goes away once the link is up: the open error's own message, then the disconnect.
    Prepare(d, 3, home.filePath("gone.txt"));
    QFile::copy(file, home.filePath("gone.txt"));
    d.vyrOPPClient.OnConnect = [&](vcl::TObject* s, int error) {
        QFile::remove(home.filePath("gone.txt"));
        d.vyrOPPClientConnect(s, error);
    };
    d.btSend->click();
    ASSERT_TRUE(WaitIdle(d));
    EXPECT_TRUE(d.laStatus->text().startsWith("Unable to send a file: Cannot open file"))
        << d.laStatus->text().toStdString();
    EXPECT_TRUE(d.laStatus->text().contains("gone.txt"));
    EXPECT_EQ(d.vyrOPPClient.State(), vyr::csClosed);

    // An absent phone fails the connection itself.
    d.vyrOPPClient.OnConnect = [&](vcl::TObject* s, int error) { d.vyrOPPClientConnect(s, error); };
    d.DeviceAddress = PhoneText(9);
    d.btSend->click();
    ASSERT_TRUE(WaitIdle(d));
    EXPECT_TRUE(d.laStatus->text().startsWith("Unable connect: ")) << d.laStatus->text().toStdString();
    EXPECT_EQ(boxes.Asked().size(), 2u);
}

TEST_F(SendToDeviceTest, TranslatedTextsAreNeverFormats) {
    QFile lang(home.filePath("langs.dat"));
    ASSERT_TRUE(lang.open(QIODevice::WriteOnly));
    lang.write("[English]\nSTR_UNABLE_SEND=%n%d%x <%s> %s%%\nSTR_UNABLE_CONNECT=no argument %n\n");
    lang.close();
    EXPECT_EQ(TextWithArgument("%n%d <%s>", "47%s"), "%n%d <47%s>");
    AddPhone(1, "Refuser").obex.mode = air::ObexMode::Refuse;
    Start();
    TfmSendToDevice d;
    d.show();
    Prepare(d, 1, WriteFile("a.txt", 10));
    d.btSend->click();
    ASSERT_TRUE(WaitIdle(d));
    const QString text = d.laStatus->text();
    EXPECT_TRUE(text.startsWith("%n%d%x <")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("%%")) << text.toStdString();
    EXPECT_FALSE(text.contains("%s")) << text.toStdString();
    d.DeviceAddress = PhoneText(9);
    d.btSend->click();
    ASSERT_TRUE(WaitIdle(d));
    EXPECT_EQ(d.laStatus->text(), "no argument %n");
}

TEST_F(SendToDeviceTest, ClosingMidTransferDisconnectsWithoutAQuestion) {
    auto& slow = AddPhone(1, "Tomas");
    slow.obex.maxPacket = 1024;
    slow.obex.delayMs = 20;
    Start();
    auto d = std::make_unique<TfmSendToDevice>();
    d->show();
    Prepare(*d, 1, WriteFile("movie.3gp", 400000));
    d->btSend->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return d->ProgressBar->value() > 0; }, 30000));
    d->btOK->click();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(d->laStatus->text(), SendError(47));
    EXPECT_TRUE(d->btSend->isEnabled());
    EXPECT_EQ(d->vyrOPPClient.State(), vyr::csClosed);
    d.reset();
    QTest::qWait(50);
    EXPECT_FALSE(QDir(Inbox(1)).exists("movie.3gp"));
    EXPECT_TRUE(boxes.Asked().empty());
}

} // namespace

namespace {

TEST_F(AirDialogTest, DialogsRenderOffscreen) {
    const QString out = QStringLiteral(TAVLIN_TEST_FIREBIRD_LOCK "/../lists-%1.png");
    AddPhone(1, "Marta's phone");
    AddPhone(2, "Kestrel K810");
    AddPhone(3, "");
    Start();
    TfmSearchForDevices picker;
    picker.show(); // its first search starts by itself
    ASSERT_TRUE(QTest::qWaitFor([&] { return picker.ListView->count() == 3; }, 10000));
    QApplication::processEvents();
    auto cell = [&](int row) {
        return picker.ListView->viewport()->grab(picker.ListView->visualItemRect(picker.ListView->item(row))).toImage();
    };
    // Focus makes the first device current; it still looks as it did until it is selected.
    const QImage plain = cell(0);
    picker.activateWindow();
    picker.ListView->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_EQ(picker.ListView->currentRow(), 0);
    EXPECT_TRUE(cell(0) == plain);
    EXPECT_FALSE(picker.btOK->isEnabled());
    picker.ListView->setCurrentRow(0);
    EXPECT_FALSE(cell(0) == plain);
    picker.ListView->setCurrentRow(1);
    TfmSearching wait;
    TfmSendToDevice send;
    send.DeviceAddress = PhoneText(1);
    send.edDevice->setText("MARTA'S PHONE");
    send.edFile->setText("/home/station/offer.jpg");
    send.ProgressBar->setMaximum(100);
    send.ProgressBar->setValue(40);
    send.laStatus->setText("Sending file...");
    for (auto [name, dialog] :
         {std::pair<const char*, QWidget*>{"picker", &picker}, {"searching", &wait}, {"send", &send}}) {
        dialog->show();
        const QImage shot = dialog->grab().toImage();
        EXPECT_GT(shot.width(), 250) << name;
        EXPECT_TRUE(shot.save(out.arg(name))) << name;
        dialog->hide();
    }
    EXPECT_EQ(picker.ListView->count(), 3);
}

} // namespace
