// Files prepared for phones from the campaigns stored in a fresh database: content
// written unchanged, the promotion picture with its coupon, unsafe names, bad pictures,
// and the work folders emptied after the pushes.
#include "TestDatabase.h"
#include "QtTestApp.h"
#include "ScopedEnv.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <memory>

#include <cerrno>
#include <sys/stat.h>

#include "campaigncontent.h"
#include "jpegcodec.h"
#include "promopicture.h"

using namespace ibx;
using tavlin::test::DatabaseSuite;

namespace {

const char* const kDongle = "(00:00:00:00:00:0A)";

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TBytes Bytes(const QByteArray& a) {
    return TBytes(a.begin(), a.end());
}

// Every file and folder under a folder, for "nothing was left behind".
QStringList Tree(const QString& root) {
    QStringList all;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        all << QDir(root).relativeFilePath(it.next());
    all.sort();
    return all;
}

// The file's identity on disk: equal for hard links of one file.
ino_t Inode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QImage Solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(c);
    return img;
}

class CampaignContent : public DatabaseSuite {
protected:
    void SetUp() override {
        EnsureQApplication();
        for (const char* t : {"CAMPAIGN_LOCKS", "DEVICE_LOCKS", "PROCESSED", "HISTORY", "DEVICES", "CAMPAIGNS"})
            Exec(std::string("delete from ") + t);
        ASSERT_TRUE(root_.isValid());
        content_ = std::make_unique<TCampaignContent>(tr_);
        for (int tag = 0; tag < 4; ++tag) {
            folders_[tag] = root_.filePath(QString::number(tag)) + "/";
            QDir().mkpath(folders_[tag]);
            content_->SetSenderFolder(tag, folders_[tag]);
        }
    }

    void TearDown() override {
        content_.reset();
        DatabaseSuite::TearDown();
    }

    // A campaign stored as the editors store it.
    int AddCampaign(int type, const std::string& fileName, const QByteArray& data, int useCoupon = 0,
                    const std::string& message = "", int halign = 1, int valign = 1) {
        return Call("ADD_CAMPAIGN", {{"CAMPAIGNS_NAME", "c" + std::to_string(++count_)},
                                     {"CAMPAIGNS_SCHEDULE", 0},
                                     {"CAMPAIGNS_TYPE", type},
                                     {"CAMPAIGNS_ENABLED", 1},
                                     {"CAMPAIGNS_FILE_NAME", fileName},
                                     {"CAMPAIGNS_DATA", Bytes(data)},
                                     {"CAMPAIGNS_VALIGN", valign},
                                     {"CAMPAIGNS_HALIGN", halign},
                                     {"CAMPAIGNS_USE_COUPON", useCoupon},
                                     {"CAMPAIGNS_MESSAGE", message},
                                     {"CAMPAIGNS_FONT_NAME", "DejaVu Sans"},
                                     {"CAMPAIGNS_FONT_SIZE", 12},
                                     {"CAMPAIGNS_FONT_STYLE", PromoStyleBold},
                                     {"CAMPAIGNS_FONT_COLOR", 0x000000FF},
                                     {"CAMPAIGNS_VALID_IN", useCoupon ? TValue(24) : TValue()}})
            .ParamByName("CAMPAIGNS_ID")
            .AsInteger();
    }

    // The sender accepts the device for the campaign, as the engine does before asking for its file.
    void Accept(const std::string& mac, int campaign) {
        ASSERT_EQ(Call("CHECK_DEVICE", {{"MAC", mac},
                                        {"NAME", "Phone"},
                                        {"COD", 0x5A020C},
                                        {"MODEL", ""},
                                        {"MANUFACTURER", ""},
                                        {"CAMPAIGN_ID", campaign},
                                        {"DONGLE_MAC", kDongle}})
                      .ParamByName("STATUS")
                      .AsInteger(),
                  5);
    }

    TValue IssuedCoupon(const std::string& mac) {
        return Scalar("select DEVICE_LOCKS_COUPON from DEVICE_LOCKS where DEVICE_LOCKS_DEVICE_MAC = '" + mac + "'");
    }

    QTemporaryDir root_;
    QString folders_[4];
    std::unique_ptr<TCampaignContent> content_;
    int count_ = 0;
};

} // namespace

TEST_F(CampaignContent, FileAndCardCampaignsAreWrittenUnchanged) {
    QByteArray clip;
    for (int i = 0; i < 70000; ++i) // more than one blob segment, every byte value
        clip.append(char(i * 7));
    const QByteArray card = "BEGIN:VCARD\r\nVERSION:2.1\r\nORG:Cafe\r\nTEL;PREF;WORK:+100\r\nEND:VCARD\r\n";
    const int file = AddCampaign(0, "offer.3gp", clip);
    const int text = AddCampaign(1, "vcard.vcf", card);
    const int empty = AddCampaign(0, "empty.txt", QByteArray());

    const QString path = content_->PrepareCampaignFile(2, file, "(AA:BB:CC:DD:EE:01)");
    EXPECT_EQ(path, folders_[2] + "AABBCCDDEE01/offer.3gp");
    EXPECT_EQ(ReadAll(path), clip);
    const QString cardPath = content_->PrepareCampaignFile(0, text, "(AA:BB:CC:DD:EE:02)");
    EXPECT_EQ(cardPath, folders_[0] + "AABBCCDDEE02/vcard.vcf");
    EXPECT_EQ(ReadAll(cardPath), card);
    const QString emptyPath = content_->PrepareCampaignFile(0, empty, "(AA:BB:CC:DD:EE:03)");
    EXPECT_TRUE(QFileInfo(emptyPath).isFile());
    EXPECT_EQ(QFileInfo(emptyPath).size(), 0);
    ASSERT_EQ(content_->SentFiles().size(), 3u);
    EXPECT_EQ(content_->SentFile(2, "(aa:bb:cc:dd:ee:01)"), path);
    EXPECT_EQ(content_->SentFile(0, "(AA:BB:CC:DD:EE:01)"), "");

    // No campaign this cycle, or one deleted since: nothing.
    const QStringList before = Tree(root_.path());
    EXPECT_EQ(content_->PrepareCampaignFile(1, 0, "(AA:BB:CC:DD:EE:04)"), "");
    EXPECT_EQ(content_->PrepareCampaignFile(1, 999999, "(AA:BB:CC:DD:EE:04)"), "");
    EXPECT_EQ(Tree(root_.path()), before);
    EXPECT_EQ(content_->SentFiles().size(), 3u);
    EXPECT_EQ(TCampaignContent::CleanMac("(00:1A:7D:DA:71:13)"), "001A7DDA7113");
}

TEST_F(CampaignContent, NamesThatLeaveTheWorkFolderPrepareNothing) {
    const int camp = AddCampaign(0, "x", "payload");
    // Something outside the sender folders that a crafted name could reach.
    const QString victim = root_.filePath("x");
    QFile f(victim);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep");
    f.close();

    const QStringList before = Tree(root_.path());
    for (const char* name : {"..\\..\\x", "../../x", "../x", "/tmp/x", "C:x", "c:\\x", "sub/x", "", ".", ".."}) {
        Exec("update CAMPAIGNS set CAMPAIGNS_FILE_NAME = '" + std::string(name) + "'");
        EXPECT_EQ(content_->PrepareCampaignFile(0, camp, "(AA:BB:CC:DD:EE:05)"), "") << name;
        content_->DeleteDeviceFile(0, "(AA:BB:CC:DD:EE:05)");
        content_->DeleteSenderFiles(0);
    }
    EXPECT_EQ(Tree(root_.path()), before);
    EXPECT_EQ(ReadAll(victim), "keep");
    EXPECT_TRUE(content_->SentFiles().empty());

    // An address that is no address gives no folder outside either.
    Exec("update CAMPAIGNS set CAMPAIGNS_FILE_NAME = 'ok.txt'");
    EXPECT_EQ(content_->PrepareCampaignFile(0, camp, "(..)"), "");
    EXPECT_EQ(content_->PrepareCampaignFile(0, camp, "(../..)"), "");
    EXPECT_EQ(Tree(root_.path()), before);
}

TEST_F(CampaignContent, PromotionPictureIsComposedForEachDevice) {
    const QByteArray stored = EncodeJpeg(Solid(352, 200, QColor(0, 0, 200)));
    const int camp = AddCampaign(2, "promo.jpg", stored, 1, "Sale -20%", 1, 1);
    const std::string macs[] = {"(AA:BB:CC:DD:EE:10)", "(AA:BB:CC:DD:EE:11)", "(AA:BB:CC:DD:EE:12)"};
    for (const auto& mac : macs)
        Accept(mac, camp);

    for (const auto& mac : macs) {
        const QString address = QString::fromStdString(mac);
        const QString path = content_->PrepareCampaignFile(1, camp, address);
        ASSERT_EQ(path, folders_[1] + TCampaignContent::CleanMac(address) + "/promo.jpg");
        const QByteArray jpeg = ReadAll(path);
        EXPECT_GE(jpeg.indexOf(QByteArray("\xFF\xC0", 2)), 0) << "baseline";
        EXPECT_LT(jpeg.indexOf(QByteArray("\xFF\xC2", 2)), 0) << "not progressive";
        const QImage sent = DecodeJpeg(jpeg);
        ASSERT_EQ(sent.size(), QSize(176, 220));
        EXPECT_GT(sent.pixelColor(10, 2).lightness(), 245);   // white above the picture
        EXPECT_GT(sent.pixelColor(10, 217).lightness(), 245); // and below it
        EXPECT_GT(sent.pixelColor(3, 65).blue(), 150);        // the picture at (0, 60)

        // Exactly the picture for this device's coupon as the database issued it.
        const TValue coupon = IssuedCoupon(mac);
        ASSERT_FALSE(coupon.IsNull()) << mac;
        TPromoText text;
        text.Message = "Sale -20%";
        text.Font = {"DejaVu Sans", 12, PromoStyleBold, 0x000000FF};
        text.HAlign = 1;
        text.VAlign = 1;
        text.Coupon = CouponText(coupon.AsInteger());
        ASSERT_EQ(text.Coupon.size(), 8);
        EXPECT_EQ(jpeg, EncodeJpeg(ComposePromoPicture(DecodeJpeg(stored), text))) << mac;
    }
    // One decode for the cycle, not one per device.
    EXPECT_EQ(content_->DecodeCount(), 1);
    content_->EndCycle(1);
    Accept("(AA:BB:CC:DD:EE:13)", camp);
    content_->PrepareCampaignFile(1, camp, "(AA:BB:CC:DD:EE:13)");
    EXPECT_EQ(content_->DecodeCount(), 2);
    // A picture edited during the cycle is decoded afresh.
    TIBQuery edit;
    edit.SetTransaction(tr_);
    edit.SetSQL("update CAMPAIGNS set CAMPAIGNS_DATA = :d where CAMPAIGNS_ID = :id");
    edit.ParamByName("d").SetAsBytes(Bytes(EncodeJpeg(Solid(100, 300, Qt::green))));
    edit.ParamByName("id").SetAsInteger(camp);
    edit.ExecSQL();
    tr_->CommitRetaining();
    Accept("(AA:BB:CC:DD:EE:14)", camp);
    const QImage sent = DecodeJpeg(ReadAll(content_->PrepareCampaignFile(1, camp, "(AA:BB:CC:DD:EE:14)")));
    EXPECT_EQ(content_->DecodeCount(), 3);
    EXPECT_GT(sent.pixelColor(60, 3).green(), 150); // the column at 51..123
    EXPECT_GT(sent.pixelColor(30, 3).lightness(), 245);
}

TEST_F(CampaignContent, NoCouponWithoutCouponUseAndNoPictureGivesWhite) {
    const int camp = AddCampaign(2, "plain.jpg", QByteArray(), 0, "Hello", 0, 0);
    Accept("(AA:BB:CC:DD:EE:20)", camp);
    const QString path = content_->PrepareCampaignFile(3, camp, "(AA:BB:CC:DD:EE:20)");
    ASSERT_FALSE(path.isEmpty());
    EXPECT_TRUE(IssuedCoupon("(AA:BB:CC:DD:EE:20)").IsNull());
    const QImage sent = DecodeJpeg(ReadAll(path));
    ASSERT_EQ(sent.size(), QSize(176, 220));
    EXPECT_GT(sent.pixelColor(150, 200).lightness(), 245);
    EXPECT_EQ(content_->DecodeCount(), 0);
}

TEST_F(CampaignContent, PictureThatIsNoJpegFailsAndPreparesNothing) {
    const int camp = AddCampaign(2, "promo.jpg", "GIF89a not a jpeg at all", 1, "Hi");
    Accept("(AA:BB:CC:DD:EE:30)", camp);
    const QStringList before = Tree(root_.path());
    try {
        content_->PrepareCampaignFile(0, camp, "(AA:BB:CC:DD:EE:30)");
        FAIL() << "no error";
    } catch (const EJpegError& e) {
        EXPECT_TRUE(QString(e.what()).startsWith("JPEG error #")) << e.what();
    }
    EXPECT_EQ(Tree(root_.path()), before);
    EXPECT_TRUE(content_->SentFiles().empty());
    EXPECT_TRUE(IssuedCoupon("(AA:BB:CC:DD:EE:30)").IsNull());
    // The transaction goes on: the next campaign is prepared as usual.
    const int ok = AddCampaign(0, "ok.txt", "fine");
    EXPECT_FALSE(content_->PrepareCampaignFile(0, ok, "(AA:BB:CC:DD:EE:30)").isEmpty());
}

TEST_F(CampaignContent, FilesGoAfterThePushAndWhenTheSenderStops) {
    const int camp = AddCampaign(0, "offer.txt", "offer");
    const QString phone = "(AA:BB:CC:DD:EE:40)";
    // Two senders serve the same phone; each has its own file.
    const QString p0 = content_->PrepareCampaignFile(0, camp, phone);
    const QString p1 = content_->PrepareCampaignFile(1, camp, phone);
    const QString other = content_->PrepareCampaignFile(1, camp, "(AA:BB:CC:DD:EE:41)");
    ASSERT_NE(p0, p1);
    // Preparing again (in the next cycle) replaces the entry; a renamed campaign's old file goes.
    Exec("update CAMPAIGNS set CAMPAIGNS_FILE_NAME = 'renamed.txt'");
    content_->EndCycle(0);
    const QString p0b = content_->PrepareCampaignFile(0, camp, phone);
    EXPECT_FALSE(QFile::exists(p0));
    EXPECT_TRUE(QFile::exists(p0b));
    EXPECT_EQ(content_->SentFiles().size(), 3u);

    content_->DeleteDeviceFile(0, "(aa:bb:cc:dd:ee:40)");
    EXPECT_FALSE(QFile::exists(p0b));
    EXPECT_FALSE(QDir(folders_[0] + "AABBCCDDEE40").exists());
    EXPECT_TRUE(QFile::exists(p1)) << "the other sender's file stays";
    EXPECT_EQ(content_->SentFiles().size(), 2u);
    content_->DeleteDeviceFile(0, phone); // again: nothing left to do
    content_->DeleteDeviceFile(2, phone);

    // A folder holding something else stays.
    QFile stray(QFileInfo(other).path() + "/stray");
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    content_->DeleteSenderFiles(1);
    EXPECT_TRUE(content_->SentFiles().empty());
    EXPECT_FALSE(QFile::exists(p1));
    EXPECT_FALSE(QFile::exists(other));
    EXPECT_TRUE(QFile::exists(stray.fileName()));
    QFile::remove(stray.fileName());
    QDir().rmdir(QFileInfo(other).path());
    for (const auto& f : folders_)
        EXPECT_TRUE(QDir(f).isEmpty()) << f.toStdString();

    // The default work folders: application data, "Tavlin", the Tag.
    tavtest::ScopedEnv data("XDG_DATA_HOME", root_.filePath("data").toStdString());
    EXPECT_EQ(TCampaignContent::DefaultSenderFolder(3), root_.filePath("data") + "/Tavlin/3/");
    EXPECT_EQ(TCampaignContent().SenderFolder(0), root_.filePath("data") + "/Tavlin/0/");
}

TEST_F(CampaignContent, SameContentIsWrittenOncePerCycleAndLinkedForEachPhone) {
    QByteArray clip;
    for (int i = 0; i < 300000; ++i)
        clip.append(char((i * 131) ^ (i >> 8)));
    const int camp = AddCampaign(0, "clip.3gp", clip);
    const QString phones[] = {"(AA:BB:CC:DD:EE:50)", "(AA:BB:CC:DD:EE:51)", "(AA:BB:CC:DD:EE:52)"};
    QStringList paths;
    for (const auto& phone : phones)
        paths << content_->PrepareCampaignFile(2, camp, phone);
    EXPECT_EQ(content_->SharedWriteCount(), 1);
    for (const auto& path : paths) {
        ASSERT_FALSE(path.isEmpty());
        EXPECT_EQ(ReadAll(path), clip) << path.toStdString();
        EXPECT_NE(Inode(path), 0u);
        EXPECT_EQ(Inode(path), Inode(paths[0])) << "one file on disk, linked per phone";
    }
    EXPECT_EQ(content_->SentFiles().size(), 3u);

    // One phone's push ended: the others' files are whole.
    content_->DeleteDeviceFile(2, phones[1]);
    EXPECT_FALSE(QFile::exists(paths[1]));
    EXPECT_EQ(ReadAll(paths[0]), clip);
    EXPECT_EQ(ReadAll(paths[2]), clip);

    // The cycle ends while pushes still run: the shared copy goes, the phones' files stay.
    // The next cycle's edited content is a new file; files being pushed keep their bytes.
    content_->EndCycle(2);
    EXPECT_EQ(ReadAll(paths[0]), clip);
    EXPECT_EQ(QDir(folders_[2]).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{"AABBCCDDEE50", "AABBCCDDEE52"}));
    TIBQuery edit;
    edit.SetTransaction(tr_);
    edit.SetSQL("update CAMPAIGNS set CAMPAIGNS_DATA = :d where CAMPAIGNS_ID = :id");
    edit.ParamByName("d").SetAsBytes(Bytes("a new clip"));
    edit.ParamByName("id").SetAsInteger(camp);
    edit.ExecSQL();
    tr_->CommitRetaining();
    const QString next = content_->PrepareCampaignFile(2, camp, "(AA:BB:CC:DD:EE:53)");
    EXPECT_EQ(ReadAll(next), "a new clip");
    EXPECT_EQ(ReadAll(paths[0]), clip);
    EXPECT_EQ(ReadAll(paths[2]), clip);
    EXPECT_EQ(content_->SharedWriteCount(), 2);

    // The sender stops: nothing of it is left, the shared copy included.
    content_->DeleteSenderFiles(2);
    EXPECT_TRUE(Tree(folders_[2]).isEmpty()) << Tree(folders_[2]).join(", ").toStdString();

    // Where the file system refuses links, each phone gets a copy of its own.
    const auto link = TCampaignContent::LinkHook;
    TCampaignContent::LinkHook = [](const char*, const char*) {
        errno = EXDEV;
        return -1;
    };
    const int card = AddCampaign(1, "shop.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n");
    const QString a = content_->PrepareCampaignFile(3, card, phones[0]);
    const QString b = content_->PrepareCampaignFile(3, card, phones[1]);
    TCampaignContent::LinkHook = link;
    EXPECT_EQ(ReadAll(a), "BEGIN:VCARD\r\nEND:VCARD\r\n");
    EXPECT_EQ(ReadAll(b), ReadAll(a));
    EXPECT_NE(Inode(a), Inode(b));
    content_->DeleteDeviceFile(3, phones[0]);
    EXPECT_EQ(ReadAll(b), "BEGIN:VCARD\r\nEND:VCARD\r\n");
    EXPECT_EQ(content_->SharedWriteCount(), 3);
}
