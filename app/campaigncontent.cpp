#include "campaigncontent.h"

#include <algorithm>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"
#include "campeditor.h"
#include "jpegcodec.h"
#include "promopicture.h"
#include "vcl/SysUtils.h"

namespace {

enum : int { TypeFile = 0, TypeText = 1, TypePromotion = 2 };

QString FieldText(const ibx::TIBQuery& q, const char* name) {
    return QString::fromStdString(q.FieldByName(name).AsString());
}

// Integer columns may be NULL in rows written by hand; NULL reads as the fallback.
int FieldInt(const ibx::TIBQuery& q, const char* name, int fallback = 0) {
    const auto& f = q.FieldByName(name);
    if (f.IsNull())
        return fallback;
    const std::int64_t v = f.AsInt64();
    return v < INT32_MIN || v > INT32_MAX ? fallback : static_cast<int>(v);
}

QByteArray FieldBytes(const ibx::TIBQuery& q, const char* name) {
    const auto& f = q.FieldByName(name);
    if (f.IsNull())
        return {};
    const ibx::TBytes bytes = f.AsBytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

[[noreturn]] void RaiseWriteError(const QString& path, const QString& reason) {
    throw vcl::Exception(
        QStringLiteral("Unable to write the file %1: %2").arg(QDir::toNativeSeparators(path), reason).toStdString());
}

void WriteFile(const QString& path, const QByteArray& data) {
    // Written aside and renamed into place, so a failed write leaves no partial file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        RaiseWriteError(path, file.errorString());
    if (file.write(data) != data.size() || !file.commit())
        RaiseWriteError(path, file.errorString());
}

} // namespace

TCampaignContent::TCampaignContent(ibx::TIBTransaction* transaction) : transaction_(transaction) {
    for (int tag = 0; tag < SenderCount; ++tag)
        folders_[size_t(tag)] = DefaultSenderFolder(tag);
}

std::function<int(const char*, const char*)> TCampaignContent::LinkHook = [](const char* shared, const char* path) {
    return ::link(shared, path);
};

TCampaignContent::~TCampaignContent() {
    for (int tag = 0; tag < SenderCount; ++tag)
        DropShared(tag);
}

void TCampaignContent::SetTransaction(ibx::TIBTransaction* transaction) {
    transaction_ = transaction;
    if (quGetCampaignParam_)
        quGetCampaignParam_->SetTransaction(transaction);
    if (spGenCoupon_)
        spGenCoupon_->SetTransaction(transaction);
}

ibx::TIBQuery& TCampaignContent::quGetCampaignParam() {
    if (!quGetCampaignParam_) {
        quGetCampaignParam_ = std::make_unique<ibx::TIBQuery>();
        quGetCampaignParam_->SetTransaction(transaction_);
        quGetCampaignParam_->SetSQL(
            "select campaigns_type, campaigns_file_name, campaigns_data, campaigns_valign, campaigns_halign, "
            "campaigns_use_coupon, campaigns_message, campaigns_font_name, campaigns_font_size, "
            "campaigns_font_style, campaigns_font_color from campaigns where campaigns_id = :id;");
    }
    return *quGetCampaignParam_;
}

ibx::TIBStoredProc& TCampaignContent::spGenCoupon() {
    if (!spGenCoupon_) {
        spGenCoupon_ = std::make_unique<ibx::TIBStoredProc>();
        spGenCoupon_->SetTransaction(transaction_);
        spGenCoupon_->SetStoredProcName("GEN_COUPON_CODE");
    }
    return *spGenCoupon_;
}

QString TCampaignContent::DefaultSenderFolder(int tag) {
    QString root = qEnvironmentVariable("XDG_DATA_HOME");
    if (root.isEmpty() || !QDir::isAbsolutePath(root))
        root = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(root) + QStringLiteral("/Tavlin/") + QString::number(tag) + QLatin1Char('/');
}

QString TCampaignContent::SenderFolder(int tag) const {
    return ValidTag(tag) ? folders_[size_t(tag)] : QString();
}

void TCampaignContent::SetSenderFolder(int tag, const QString& folder) {
    if (!ValidTag(tag))
        return;
    QString f = folder;
    if (!f.isEmpty() && !f.endsWith(QLatin1Char('/')))
        f += QLatin1Char('/');
    folders_[size_t(tag)] = f;
}

QString TCampaignContent::CleanMac(const QString& address) {
    QString s = address;
    s.remove(QLatin1Char(':')).remove(QLatin1Char('(')).remove(QLatin1Char(')'));
    return s;
}

QString TCampaignContent::PrepareCampaignFile(int tag, int campaignId, const QString& deviceAddress) {
    if (campaignId == 0 || !ValidTag(tag))
        return {};
    const TSharedContent& shared = shared_[size_t(tag)];
    if (shared.Valid && shared.CampaignId == campaignId && QFileInfo::exists(shared.Path)) {
        // The cycle's content is on disk already: no database call, no bytes copied.
        const QString path = PlaceShared(tag, deviceAddress);
        if (!path.isEmpty())
            Remember(tag, deviceAddress, path);
        return path;
    }
    if (!transaction_)
        throw vcl::Exception("The campaign content has no database transaction");
    QString path;
    try {
        path = Prepare(tag, campaignId, deviceAddress);
        quGetCampaignParam().Close();
        transaction_->CommitRetaining();
    } catch (...) {
        // Back to the last good point (a coupon issued for nothing goes with it), and no
        // file that shows such a coupon; the caller reports the error.
        if (!path.isEmpty())
            RemoveFileAndFolder(path);
        try {
            quGetCampaignParam().Close();
            if (transaction_->InTransaction())
                transaction_->RollbackRetaining();
        } catch (...) {
        }
        throw;
    }
    if (!path.isEmpty())
        Remember(tag, deviceAddress, path);
    return path;
}

QString TCampaignContent::Prepare(int tag, int campaignId, const QString& deviceAddress) {
    auto& q = quGetCampaignParam();
    q.ParamByName("id").SetAsInteger(campaignId);
    q.Open();
    if (q.Eof())
        return {};

    const int type = FieldInt(q, "campaigns_type", -1);
    if (type != TypeFile && type != TypeText && type != TypePromotion)
        return {}; // nothing to send for a type this station does not know
    const QString name = FieldText(q, "campaigns_file_name");
    const QString path = DevicePath(tag, deviceAddress, name);
    if (path.isEmpty())
        return {};
    const QByteArray stored = FieldBytes(q, "campaigns_data");

    if (type != TypePromotion) {
        // The same bytes for every phone of the cycle: written once, linked per phone.
        DropShared(tag);
        const QString folder = folders_[size_t(tag)] + QStringLiteral(".shared");
        if (!QDir().mkpath(folder))
            RaiseWriteError(folder, QStringLiteral("the folder cannot be created"));
        const QString sharedPath = folder + QLatin1Char('/') + name;
        WriteFile(sharedPath, stored);
        ++sharedWriteCount_;
        shared_[size_t(tag)] = {campaignId, name, sharedPath, true};
        return PlaceShared(tag, deviceAddress);
    }

    // A promotion is composed for this very phone, in memory first: a bad picture or a
    // database error leaves no folder or file behind.
    const QImage& picture = DecodedPicture(tag, campaignId, stored);
    TPromoText text;
    text.Message = FieldText(q, "campaigns_message");
    text.Font.Name = FieldText(q, "campaigns_font_name");
    text.Font.Size = FieldInt(q, "campaigns_font_size");
    text.Font.Style = FieldInt(q, "campaigns_font_style");
    text.Font.Color = FieldInt(q, "campaigns_font_color", PromoDefaultFontColor);
    text.HAlign = FieldInt(q, "campaigns_halign");
    text.VAlign = FieldInt(q, "campaigns_valign");
    if (FieldInt(q, "campaigns_use_coupon") == 1)
        text.Coupon = NewCoupon(deviceAddress);
    const QByteArray content = EncodeJpeg(ComposePromoPicture(picture, text));

    MakeDeviceFolder(tag, deviceAddress, path);
    WriteFile(path, content);
    return path;
}

QString TCampaignContent::DevicePath(int tag, const QString& deviceAddress, const QString& name) const {
    const QString device = CleanMac(deviceAddress);
    const QString senderFolder = folders_[size_t(tag)];
    // A device folder never starts with a dot, so none can be the shared one.
    if (!IsPlainFileName(name) || !IsPlainFileName(device) || device.startsWith(QLatin1Char('.')) ||
        senderFolder.isEmpty())
        return {};
    return senderFolder + device + QLatin1Char('/') + name;
}

void TCampaignContent::MakeDeviceFolder(int tag, const QString& deviceAddress, const QString& path) {
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder))
        RaiseWriteError(folder, QStringLiteral("the folder cannot be created"));
    // A file prepared earlier for this device under another name would be left behind.
    const QString earlier = SentFile(tag, deviceAddress);
    if (!earlier.isEmpty() && earlier != path)
        QFile::remove(earlier);
}

QString TCampaignContent::PlaceShared(int tag, const QString& deviceAddress) {
    const TSharedContent& shared = shared_[size_t(tag)];
    const QString path = DevicePath(tag, deviceAddress, shared.Name);
    if (path.isEmpty())
        return {};
    MakeDeviceFolder(tag, deviceAddress, path);
    // Neither a link nor a copy replaces a file: an earlier one of this name goes first.
    QFile::remove(path);
    if (LinkHook(QFile::encodeName(shared.Path).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile source(shared.Path);
        if (!source.copy(path))
            RaiseWriteError(path, source.errorString());
    }
    return path;
}

void TCampaignContent::DropShared(int tag) {
    if (!ValidTag(tag))
        return;
    TSharedContent& shared = shared_[size_t(tag)];
    if (shared.Valid)
        RemoveFileAndFolder(shared.Path);
    shared = TSharedContent();
}

const QImage& TCampaignContent::DecodedPicture(int tag, int campaignId, const QByteArray& stored) {
    // Each sender keeps the picture of its campaign for the cycle. The stored bytes are
    // part of the key, so a campaign edited during the cycle is decoded afresh.
    TPictureCache& c = pictures_[size_t(tag)];
    if (c.Valid && c.CampaignId == campaignId && c.Stored == stored)
        return c.Picture;
    c = TPictureCache();
    QImage picture;
    if (!stored.isEmpty()) {
        ++decodeCount_;
        picture = DecodeJpeg(stored);
    }
    c.CampaignId = campaignId;
    c.Stored = stored;
    c.Picture = std::move(picture);
    c.Valid = true;
    return c.Picture;
}

QString TCampaignContent::NewCoupon(const QString& deviceAddress) {
    auto& sp = spGenCoupon();
    sp.ParamByName("MAC").SetAsString(deviceAddress.toStdString());
    sp.ExecProc();
    const auto& coupon = sp.ParamByName("COUPON");
    if (coupon.IsNull())
        throw vcl::Exception("The database issued no coupon for " + deviceAddress.toStdString());
    // The coupon is a 32-bit pattern; a negative number prints as its two's complement.
    return CouponText(static_cast<qint32>(static_cast<quint32>(coupon.AsInt64())));
}

std::vector<TCampaignContent::TPreparedFile>::iterator TCampaignContent::Find(int tag, const QString& deviceAddress) {
    return std::find_if(sentFiles_.begin(), sentFiles_.end(), [&](const TPreparedFile& f) {
        return f.Tag == tag && f.Address.compare(deviceAddress, Qt::CaseInsensitive) == 0;
    });
}

QString TCampaignContent::SentFile(int tag, const QString& deviceAddress) const {
    for (const auto& f : sentFiles_)
        if (f.Tag == tag && f.Address.compare(deviceAddress, Qt::CaseInsensitive) == 0)
            return f.Path;
    return {};
}

void TCampaignContent::Remember(int tag, const QString& deviceAddress, const QString& path) {
    auto it = Find(tag, deviceAddress);
    if (it != sentFiles_.end()) {
        it->Address = deviceAddress;
        it->Path = path;
    } else {
        sentFiles_.push_back({tag, deviceAddress, path});
    }
}

void TCampaignContent::RemoveFileAndFolder(const QString& path) {
    if (path.isEmpty())
        return;
    // Failures are of no consequence here: a file left over is overwritten next time.
    QFile::remove(path);
    QDir().rmdir(QFileInfo(path).path()); // only when empty
}

void TCampaignContent::DeleteDeviceFile(int tag, const QString& deviceAddress) {
    auto it = Find(tag, deviceAddress);
    if (it == sentFiles_.end())
        return;
    const QString path = it->Path;
    sentFiles_.erase(it);
    RemoveFileAndFolder(path);
}

void TCampaignContent::DeleteSenderFiles(int tag) {
    std::vector<QString> paths;
    std::erase_if(sentFiles_, [&](const TPreparedFile& f) {
        if (f.Tag != tag)
            return false;
        paths.push_back(f.Path);
        return true;
    });
    for (const auto& p : paths)
        RemoveFileAndFolder(p);
    EndCycle(tag);
}

void TCampaignContent::EndCycle(int tag) {
    if (!ValidTag(tag))
        return;
    pictures_[size_t(tag)] = TPictureCache();
    DropShared(tag);
}
