#include "ibx/IBError.h"

#include "ibx/IBCharset.h"

#include <ibase.h>

#include <algorithm>
#include <iterator>

namespace ibx {

bool EIBError::HasGDSCode(long code) const {
    return std::find(gdsCodes_.begin(), gdsCodes_.end(), code) != gdsCodes_.end();
}

bool EIBError::ConnectionLost() const {
    // By code, never by text: texts follow the client's language and version.
    static constexpr long lost[] = {isc_network_error, isc_net_read_err,   isc_net_write_err, isc_lost_db_connection,
                                    isc_conn_lost,     isc_shutdown,       isc_att_shutdown,  isc_net_server_shutdown,
                                    isc_shutinprog,    isc_net_connect_err};
    return std::any_of(std::begin(lost), std::end(lost), [this](long code) { return HasGDSCode(code); });
}

bool EIBError::PassingConflict() const {
    return HasGDSCode(isc_lock_conflict) || HasGDSCode(isc_deadlock) || HasGDSCode(isc_update_conflict);
}

bool IsPassingConflict(const std::exception& e) {
    const auto* error = dynamic_cast<const EIBError*>(&e);
    return error && error->PassingConflict();
}

bool IsConnectionLost(const std::exception& e) {
    const auto* error = dynamic_cast<const EIBError*>(&e);
    return error && error->ConnectionLost();
}

void CheckStatus(const intptr_t* status, bool utf8Connection) {
    if (!(status[0] == isc_arg_gds && status[1] != 0))
        return;

    // Walk the vector once for its codes and for the name of a user exception,
    // which is the first string argument after the exception code.
    std::vector<long> codes;
    std::string exceptionName;
    bool wantName = false;
    for (const ISC_STATUS* p = status; *p != isc_arg_end;) {
        const ISC_STATUS kind = *p++;
        switch (kind) {
        case isc_arg_gds:
            codes.push_back(static_cast<long>(*p));
            if (*p == isc_except || *p == isc_except2)
                wantName = exceptionName.empty();
            ++p;
            break;
        case isc_arg_string:
        case isc_arg_interpreted:
        case isc_arg_sql_state:
            if (wantName && kind == isc_arg_string) {
                exceptionName = reinterpret_cast<const char*>(*p);
                wantName = false;
            }
            ++p;
            break;
        case isc_arg_cstring:
            if (wantName) {
                exceptionName.assign(reinterpret_cast<const char*>(p[1]), static_cast<size_t>(p[0]));
                wantName = false;
            }
            p += 2;
            break;
        default:
            ++p;
            break;
        }
    }

    std::string message;
    char line[1024];
    const ISC_STATUS* cursor = status;
    while (fb_interpret(line, sizeof line, &cursor) > 0) {
        if (!message.empty())
            message += '\n';
        message += utf8Connection ? std::string(line) : Win1251ToUtf8(line);
    }
    if (message.empty())
        message = "Database error " + std::to_string(status[1]);
    throw EIBError(message, static_cast<int>(isc_sqlcode(status)), static_cast<long>(status[1]), std::move(codes),
                   std::move(exceptionName));
}

} // namespace ibx
