// Where a test station finds its database: what the connection dialog would have saved. Header
// only: it needs the application, which the support libraries do not link.
#pragma once

#include "dbsettings.h"
#include "vcl/Registry.h"

#include <QString>

namespace tavtest {

inline bool WriteDbSettings(const QString& path, const QString& server = {}, const QString& language = {}) {
    vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
    if (!reg.OpenKey(SettingsKeyPath().toStdU16String(), true))
        return false;
    reg.WriteString(u"UserName", u"SYSDBA");
    reg.WriteString(u"Password", u"pw");
    reg.WriteString(u"Path", path.toStdU16String());
    reg.WriteString(u"Server", server.toStdU16String());
    if (!language.isEmpty())
        reg.WriteString(u"Language", language.toStdU16String());
    return true;
}

} // namespace tavtest
