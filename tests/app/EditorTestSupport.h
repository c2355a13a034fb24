// Shared set-up of the campaign editor and campaign list tests: an embedded database,
// a fixed clock, a private language file and scripted message boxes.
#pragma once

#include "QtTestApp.h"
#include "TestDatabase.h"
#include "campeditor.h"
#include "msgbox.h"
#include "stddialogs.h"
#include "translation.h"

#include <QTemporaryDir>

#include <memory>

namespace tavlin::test {

class EditorSuite : public DatabaseSuite {
protected:
    void SetUp() override {
        EnsureQApplication();
        ASSERT_TRUE(dir_.isValid());
        Translator().SetFileName(dir_.filePath("langs.dat"));
        Translator().SetLanguageName("English");
        TCampaignClock::NowHook = [] { return QDateTime(QDate(2024, 3, 15), QTime(23, 30, 20)); };
        boxes_ = std::make_unique<TMessageBoxScript>();
    }
    void TearDown() override {
        boxes_.reset();
        TCampaignClock::NowHook = nullptr;
        TOpenDialog::ExecuteHook = nullptr;
        TFontDialog::ExecuteHook = nullptr;
        Translator().SetFileName(QString());
        DatabaseSuite::TearDown();
    }

    // A file in the test's folder.
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    void ChooseFile(const QString& path) {
        TOpenDialog::ExecuteHook = [path](QWidget*, const TOpenDialog&) { return path; };
    }
    // The texts of the boxes shown so far.
    QStringList Shown() const {
        QStringList texts;
        for (const TMsgRecord& r : boxes_->Asked())
            texts << r.text;
        return texts;
    }
    static QByteArray Blob(int id) {
        const ibx::TValue v = Scalar("select CAMPAIGNS_DATA from CAMPAIGNS where CAMPAIGNS_ID = " + std::to_string(id));
        if (v.IsNull())
            return QByteArray("<null>");
        const ibx::TBytes b = v.AsBytes();
        return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
    }
    // From now on the database refuses to store a campaign of that name, as it refuses any
    // value it cannot take.
    static void RefuseCampaignName(const std::string& name) {
        Exec("create or alter trigger TEST_REFUSED_NAME for CAMPAIGNS before insert or update as begin "
             "if (new.CAMPAIGNS_NAME = '" +
             name + "') then exception E_INVALID_CAMPAIGN 'refused'; end");
    }
    static QString Text(const std::string& sql) {
        const ibx::TValue v = Scalar(sql);
        return v.IsNull() ? QStringLiteral("<null>") : QString::fromStdString(v.AsString());
    }

    QTemporaryDir dir_;
    std::unique_ptr<TMessageBoxScript> boxes_;
};

} // namespace tavlin::test
