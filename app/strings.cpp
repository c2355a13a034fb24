#include "strings.h"

const std::array<StrKey, STR_KEY_COUNT>& AllStrKeys() {
    static const std::array<StrKey, STR_KEY_COUNT> keys{{
        STR_CAMPAIGN_NAME,
        STR_CAMPAIGN_RUNNING,
        STR_CAMPAING_NAME,
        STR_CLOSE_APP,
        STR_CONFIG_DATABASE,
        STR_CONNECTING,
        STR_COUPON_NOT_FOUND,
        STR_DELETE_CAMPAIGN,
        STR_DELETE_DEVICE,
        STR_DETECTED,
        STR_DEVICE_MAC,
        STR_DEVICE_NAME,
        STR_DISCARD_CHANGES,
        STR_DISCOVERING,
        STR_ENUM_RADIOS_ERROR,
        STR_EXPIRED,
        STR_FILE_NAME,
        STR_FINISH,
        STR_IMAGE,
        STR_INVALID_CODE,
        STR_NEXT,
        STR_NOT_DETECTED,
        STR_NO_ACTIVE_CAMPAIGN,
        STR_NO_RADIOS,
        STR_PROCESSING_CAMPAIGN,
        STR_PROMO,
        STR_RESTART_TO_APPLY,
        STR_RUNNING,
        STR_SCHED_CONT,
        STR_SCHED_DAYS,
        STR_SCHED_TIME,
        STR_SCHED_UNKNWON,
        STR_SELECT_DEVICE,
        STR_SELECT_FILE,
        STR_SENDER_RUNNING,
        STR_SENDER_STOPPED,
        STR_SENDING,
        STR_SEND_COMPLETE,
        STR_SEND_TIME,
        STR_SLEEPPING,
        STR_STATUS_ACCEPTED,
        STR_STATUS_ALREADY_SENT,
        STR_STATUS_BLACK_LIST,
        STR_STATUS_BUSY,
        STR_STATUS_IGNORED,
        STR_STATUS_OK,
        STR_STATUS_REJECTED,
        STR_STATUS_SENDING,
        STR_STATUS_TEMP_BL,
        STR_STATUS_UNKNOWN,
        STR_STATUS_WHITE_LITS,
        STR_STOPPED,
        STR_TEXT,
        STR_TYPE_FILE,
        STR_TYPE_UNKNOWN,
        STR_UNABLE_ADD_CMPAIGN,
        STR_UNABLE_CONNECT,
        STR_UNABLE_DICOVER,
        STR_UNABLE_SEND,
        STR_UNABLE_START,
        STR_UNABLE_UPD_CMPAIGN,
        STR_UNSUPPORTED_CAMP_TYPE,
        STR_USED,
        STR_VALID_TILL,
    }};
    return keys;
}

QString BoolToYesNo(bool value) {
    return value ? QStringLiteral("Yes") : QStringLiteral("No");
}

bool YesNoToBool(const QString& text) {
    return text == QLatin1String("Yes");
}
