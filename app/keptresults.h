// Push results the database could not take when their push ended (its connection was gone),
// kept until it can: in memory, and in a small file of the station's data folder so that
// closing the program loses none. The file is replaced as a whole on every change, so it is
// never half written; a file damaged all the same gives up only its unreadable lines.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstddef>
#include <vector>

class TKeptResults {
public:
    // One push result as SET_DEVICE records it.
    struct TResult {
        QString Mac;
        int CampaignId = 0;
        int Result = 0;
        QString Dongle;
        // The local time the push ended; invalid for a result kept by an earlier version.
        QDateTime Time;
        bool operator==(const TResult&) const = default;
    };

    // The file's path; "" keeps the results in memory only.
    const QString& FileName() const { return fileName_; }
    void SetFileName(const QString& fileName) { fileName_ = fileName; }

    // Reads the file into memory, after what is already there. A file that does not exist
    // holds nothing. Returns "" when every line was read; otherwise says which lines could
    // not be, and the damaged file is kept beside the rewritten one ("<file>.damaged").
    QString Load();

    const std::vector<TResult>& Results() const { return results_; }
    bool Empty() const { return results_.empty(); }

    // Keeps one more result. Returns "" when the file holds it, else why not (it stays in memory).
    QString Add(const TResult& result);
    // The result at `index` has been recorded. Returns "" when the file no longer holds it.
    QString Remove(size_t index);
    // Whether a result of the device is kept.
    bool Holds(const QString& mac) const;

    // What the database knows a push's result by, so that writing it again records nothing more:
    // its radio, device, campaign and local end time. Empty (no key) for a result without a time.
    static QString PushKey(const TResult& result);
    // The form a result is written in, one line each.
    static QString Line(const TResult& result);
    // Reads one line; false when it is not a result.
    static bool Parse(const QString& line, TResult& result);

private:
    // Writes every result to a new file that then takes the old one's place; with none, the
    // file goes. Returns "" on success, else why it failed.
    QString Save() const;

    QString fileName_;
    std::vector<TResult> results_;
};
