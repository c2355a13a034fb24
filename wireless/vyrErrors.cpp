#include "vyrErrors.h"

namespace vyr {

std::u16string GetErrorText(int code) {
    switch (code) {
    case 0:
        return u"";
    case 1:
        return u"Out of system resources.";
    case 2:
        return u"Internal driver error.";
    case 3:
        return u"Function is not implemented.";
    case 4:
        return u"Feature is not supported.";
    case 5:
        return u"Invalid argument.";
    case 10:
        return u"API is already loaded.";
    case 11:
        return u"The other instance of the TvyrAPI exists end loaded.";
    case 12:
        return u"API is not loaded.";
    case 13:
        return u"Specified transport is not available.";
    case 14:
        return u"Specified bluetooth API is not available.";
    case 20:
        return u"Discovering operation is not started.";
    case 21:
        return u"Discovering operation is active.";
    case 30:
        return u"Device is already paired.";
    case 31:
        return u"Authentication failed.";
    case 32:
        return u"Operation was cancelled by user.";
    case 33:
        return u"Access denied.";
    case 40:
        return u"Device is not connected.";
    case 41:
        return u"Connection is active.";
    case 42:
        return u"Connection exists.";
    case 43:
        return u"Timeout.";
    case 44:
        return u"Specified service was not found.";
    case 45:
        return u"Unable connect.";
    case 46:
        return u"Connection was rejected by device.";
    case 47:
        return u"Connection was terminated by user.";
    case 100:
        return u"OBEX session is already active.";
    case 101:
        return u"OBEX operation is in progress.";
    case 102:
        return u"OBEX session is not active.";
    case 103:
        return u"No content.";
    case 104:
        return u"OBEX operation is not active.";
    case 105:
        return u"Reset content.";
    case 106:
        return u"Non authoritative.";
    case 107:
        return u"Partial content.";
    case 108:
        return u"Multiple choises.";
    case 109:
        return u"Moved permanently.";
    case 110:
        return u"Moved temporary.";
    case 111:
        return u"See other.";
    case 112:
        return u"Not modified.";
    case 113:
        return u"Use proxy.";
    case 114:
        return u"Bad request.";
    case 115:
        return u"Unauthorized.";
    case 116:
        return u"Payment required.";
    case 117:
        return u"Forbidden.";
    case 118:
        return u"Not found.";
    case 119:
        return u"Method not allowed.";
    case 120:
        return u"Not acceptable.";
    case 121:
        return u"Proxy authentication required.";
    case 122:
        return u"Request timeout.";
    case 123:
        return u"Conflict.";
    case 124:
        return u"Gone.";
    case 125:
        return u"Length required.";
    case 126:
        return u"Precondition failed.";
    case 127:
        return u"Requiested entity too large.";
    case 128:
        return u"Requested URL too large.";
    case 129:
        return u"Unsupported media type.";
    case 130:
        return u"Internal server error.";
    case 131:
        return u"Not implemented.";
    case 132:
        return u"Bad gateway.";
    case 133:
        return u"Services unavailable.";
    case 134:
        return u"Gateway time out.";
    case 135:
        return u"HTTP version not supported.";
    case 136:
        return u"Database full.";
    case 137:
        return u"Database locked.";
    case 199:
        return u"Unknown";
    case 200:
        return u"Authenticator is already active.";
    case 201:
        return u"Authenticator is unable to register call back function.";
    case 300:
        return u"USB monitor is already active.";
    case 400:
        return u"ProximitySender is already started.";
    case 401:
        return u"ProximitySender is running.";
    case 402:
        return u"Send Radio was not specified.";
    case 403:
        return u"Discovery Radio was not specified.";
    case 404:
        return u"File name is not valid or file is not available.";
    case 500:
        return u"Error execute AT command.";
    case 501:
        return u"Unknown AT result.";
    case 502:
        return u"Operation is in progress.";
    case 600:
        return u"WiFi Manager is active.";
    case 601:
        return u"WiFi Manager is not active.";
    case 602:
        return u"Another instance of the vyrWiFiManager already exists and active.";
    case 603:
        return u"No one active WiFi Manager was found.";
    case 604:
        return u"No data.";
    case 605:
        return u"Unable set callback function for WiFi notifications.";
    case 700:
        return u"Serial port monitoring is active.";
    default:
        return u"Unknown error";
    }
}

} // namespace vyr
