// A station user's own places in a temporary folder for as long as the object lives: the data folder,
// the registry store and the language file. The environment and the translator's file are put back when
// it goes. Header only: it needs the application, which the support libraries do not link.
#pragma once

#include "ScopedEnv.h"
#include "translation.h"

#include <QString>
#include <QTemporaryDir>

namespace tavtest {

class StationHome {
public:
    StationHome() {
        data_.Set(filePath("data").toStdString());
        registry_.Set(filePath("registry").toStdString());
        Translator().SetFileName(filePath("langs.dat"));
    }
    ~StationHome() { Translator().SetFileName(QString()); }
    StationHome(const StationHome&) = delete;
    StationHome& operator=(const StationHome&) = delete;

    bool isValid() const { return dir_.isValid(); }
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    ScopedEnv data_{"XDG_DATA_HOME"}, registry_{"TAVLIN_REGISTRY_DIR"};
};

} // namespace tavtest
