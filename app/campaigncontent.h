// What a sender pushes to each accepted phone. The campaign's content is written into
// a work folder of its own per sender and device ("<sender folder>/<address digits>/"):
// a file or vCard campaign byte for byte, a promotion as a 176 x 220 JPEG picture
// composed for that device (with a coupon freshly issued by the database when the
// campaign uses coupons). The prepared files are remembered per sender and device and
// removed when the push has ended or the sender stops.
//
// A file or vCard content is the same for every phone, and may be tens of megabytes: it is
// read from the database and written once per sender and cycle ("<sender folder>/.shared/"),
// and each phone's file is a hard link to it (a copy where the file system refuses links).
// Within a cycle the content stays as it was first prepared; an edit applies from the next.
//
// The main window owns one of these and forwards its file steps to it; everything runs
// on the GUI thread.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace ibx {
class TIBTransaction;
class TIBQuery;
class TIBStoredProc;
} // namespace ibx

class TCampaignContent {
public:
    static constexpr int SenderCount = 4;

    // One prepared file: the sender (Tag), the device address as the library gave it,
    // the full path of the file.
    struct TPreparedFile {
        int Tag = 0;
        QString Address;
        QString Path;
    };

    // Database steps run on the given transaction (the main window's); each ends with
    // commit-retaining, and an error rolls back to the last such point.
    explicit TCampaignContent(ibx::TIBTransaction* transaction = nullptr);
    ~TCampaignContent();
    TCampaignContent(const TCampaignContent&) = delete;
    TCampaignContent& operator=(const TCampaignContent&) = delete;

    ibx::TIBTransaction* Transaction() const { return transaction_; }
    void SetTransaction(ibx::TIBTransaction* transaction);

    // A sender's work folder, ending in "/". By default the application-data folder
    // ($XDG_DATA_HOME, else ~/.local/share) + "/Tavlin/<tag>/". Folders are created
    // when a file is written into them.
    QString SenderFolder(int tag) const;
    void SetSenderFolder(int tag, const QString& folder);
    static QString DefaultSenderFolder(int tag);

    // The device address without ":", "(" and ")": the name of the device's folder.
    static QString CleanMac(const QString& address);

    // Writes the content of campaign campaignId for the device and remembers it under
    // (tag, address), replacing an earlier file of that pair (the caller adds no entry). Returns the file's path,
    // or "" when nothing is to be sent: no campaign (0), the campaign is gone, its type
    // is unknown, or its file name is not a plain file name (the device is skipped).
    // Throws on database errors, EJpegError for a stored picture that is not a valid
    // JPEG, vcl::Exception when the file cannot be written; then nothing is prepared.
    QString PrepareCampaignFile(int tag, int campaignId, const QString& deviceAddress);

    // The device's push on this sender has ended: its file and (when empty) its folder go.
    void DeleteDeviceFile(int tag, const QString& deviceAddress);
    // The sender stopped: all its files and their empty folders go, and its cached
    // picture with them.
    void DeleteSenderFiles(int tag);
    // The sender's cycle is over: the next cycle reads its campaign afresh (the shared
    // content goes; the phones' files stay until their pushes end).
    void EndCycle(int tag);

    const std::vector<TPreparedFile>& SentFiles() const { return sentFiles_; }
    // The path prepared for (tag, address), "" when none; addresses match in any case.
    QString SentFile(int tag, const QString& deviceAddress) const;

    // How many stored pictures were decoded so far (each sender decodes its campaign's
    // picture once per cycle, not once per device).
    int DecodeCount() const { return decodeCount_; }

    // How many times a shared content was written (once per sender and cycle).
    int SharedWriteCount() const { return sharedWriteCount_; }

    // Makes a phone's file from the shared content: a hard link, by default link(2); a
    // nonzero result falls back to a copy. Tests replace it to refuse links.
    static std::function<int(const char* shared, const char* path)> LinkHook;

    // The components, named as the rest of the station names them.
    ibx::TIBQuery& quGetCampaignParam();
    ibx::TIBStoredProc& spGenCoupon();

private:
    struct TPictureCache {
        int CampaignId = 0;
        QByteArray Stored;
        QImage Picture;
        bool Valid = false;
    };

    // The content of a file or vCard campaign, written once for the sender's cycle.
    struct TSharedContent {
        int CampaignId = 0;
        QString Name;
        QString Path;
        bool Valid = false;
    };

    QString Prepare(int tag, int campaignId, const QString& deviceAddress);
    // The folder and path of the device's file; "" when the name or address is not a plain name.
    QString DevicePath(int tag, const QString& deviceAddress, const QString& name) const;
    // Creates the device's folder and drops a file prepared earlier for it under another name.
    void MakeDeviceFolder(int tag, const QString& deviceAddress, const QString& path);
    QString PlaceShared(int tag, const QString& deviceAddress);
    void DropShared(int tag);
    const QImage& DecodedPicture(int tag, int campaignId, const QByteArray& stored);
    QString NewCoupon(const QString& deviceAddress);
    std::vector<TPreparedFile>::iterator Find(int tag, const QString& deviceAddress);
    void Remember(int tag, const QString& deviceAddress, const QString& path);
    static void RemoveFileAndFolder(const QString& path);
    static bool ValidTag(int tag) { return tag >= 0 && tag < SenderCount; }

    ibx::TIBTransaction* transaction_ = nullptr;
    std::unique_ptr<ibx::TIBQuery> quGetCampaignParam_;
    std::unique_ptr<ibx::TIBStoredProc> spGenCoupon_;
    std::array<QString, SenderCount> folders_;
    std::array<TPictureCache, SenderCount> pictures_;
    std::array<TSharedContent, SenderCount> shared_;
    int sharedWriteCount_ = 0;
    std::vector<TPreparedFile> sentFiles_;
    int decodeCount_ = 0;
};
