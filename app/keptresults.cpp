#include "keptresults.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <cstddef>

namespace {

// The first line names what the file is; lines starting with '#' say nothing else.
const char* const Header = "# Tavlin: push results not yet recorded (device, campaign, result, radio, local time)";
const QString TimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz");

bool Address(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^\\([0-9A-F]{2}(:[0-9A-F]{2}){5}\\)$"));
    return form.match(text).hasMatch();
}

} // namespace

QString TKeptResults::PushKey(const TResult& r) {
    if (!r.Time.isValid())
        return {};
    return r.Dongle + QLatin1Char(' ') + r.Mac + QLatin1Char(' ') + QString::number(r.CampaignId) + QLatin1Char(' ') +
           r.Time.toString(TimeFormat);
}

QString TKeptResults::Line(const TResult& r) {
    QString line = r.Mac + QLatin1Char('\t') + QString::number(r.CampaignId) + QLatin1Char('\t') +
                   QString::number(r.Result) + QLatin1Char('\t') + r.Dongle;
    if (r.Time.isValid())
        line += QLatin1Char('\t') + r.Time.toString(TimeFormat);
    return line;
}

bool TKeptResults::Parse(const QString& line, TResult& result) {
    QStringList fields = line.split(QLatin1Char('\t'));
    // An earlier version wrote no time.
    if (fields.size() != 4 && fields.size() != 5)
        return false;
    for (QString& f : fields)
        f = f.trimmed();
    bool idOk = false, resultOk = false;
    const int campaignId = fields[1].toInt(&idOk);
    const int code = fields[2].toInt(&resultOk);
    // The radio's address may be unknown (empty); the device's never is.
    if (!Address(fields[0]) || !idOk || campaignId <= 0 || !resultOk || code < 0 || code > 2 ||
        !(fields[3].isEmpty() || Address(fields[3])))
        return false;
    QDateTime time;
    if (fields.size() == 5) {
        time = QDateTime::fromString(fields[4], TimeFormat);
        if (!time.isValid())
            return false;
    }
    result = TResult{fields[0], campaignId, code, fields[3], time};
    return true;
}

QString TKeptResults::Load() {
    if (fileName_.isEmpty() || !QFile::exists(fileName_))
        return {};
    QFile file(fileName_);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(fileName_, file.errorString());
    const QByteArray data = file.readAll();
    file.close();
    QStringList damaged;
    int number = 0;
    for (const QByteArray& raw : data.split('\n')) {
        ++number;
        // Trailing tabs carry an empty radio address: only the line's end is cut.
        QString line = QString::fromUtf8(raw);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        TResult r;
        if (Parse(line, r))
            results_.push_back(r);
        else
            damaged << QString::number(number);
    }
    if (damaged.isEmpty())
        return {};
    // The unreadable lines stay where someone can look at them; the rest is written anew.
    const QString aside = fileName_ + QStringLiteral(".damaged");
    QFile::remove(aside);
    QString problem = QStringLiteral("%1: line %2 cannot be read").arg(fileName_, damaged.join(QStringLiteral(", ")));
    if (QFile::copy(fileName_, aside))
        problem += QStringLiteral("; the file is kept as %1").arg(aside);
    const QString saved = Save();
    if (!saved.isEmpty())
        problem += QStringLiteral("; ") + saved;
    return problem;
}

QString TKeptResults::Add(const TResult& result) {
    results_.push_back(result);
    return Save();
}

QString TKeptResults::Remove(size_t index) {
    if (index >= results_.size())
        return {};
    results_.erase(results_.begin() + std::ptrdiff_t(index));
    return Save();
}

bool TKeptResults::Holds(const QString& mac) const {
    return std::any_of(results_.begin(), results_.end(),
                       [&mac](const TResult& r) { return r.Mac.compare(mac, Qt::CaseInsensitive) == 0; });
}

QString TKeptResults::Save() const {
    if (fileName_.isEmpty())
        return {};
    if (results_.empty()) {
        if (QFile::exists(fileName_) && !QFile::remove(fileName_))
            return QStringLiteral("%1 cannot be removed").arg(fileName_);
        return {};
    }
    QByteArray data = QByteArray(Header) + '\n';
    for (const TResult& r : results_)
        data += Line(r).toUtf8() + '\n';
    // Written beside the old file and then put in its place: a crash leaves one or the other.
    QSaveFile file(fileName_);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(fileName_, file.errorString());
    return {};
}
