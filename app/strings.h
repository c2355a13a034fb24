// The application's built-in English texts, one per text key of the language file,
// and the Yes/No helpers of the list columns. The keys are spelled as the language
// files already in use spell them, misspellings included, so existing translations
// keep matching.
#pragma once

#include <QString>

#include <array>

struct StrKey {
    const char* key;
    const char* text;
};

// The maker and product names that build the registry key paths.
inline constexpr const char* COMPANY_NAME = "Morvek";
inline constexpr const char* PRODUCT_NAME = "Tavlin";

inline constexpr StrKey STR_CAMPAIGN_GONE{
    "STR_CAMPAIGN_GONE", "The campaign no longer exists: it was deleted elsewhere. It is taken off the list."};
inline constexpr StrKey STR_CAMPAIGN_NAME{"STR_CAMPAIGN_NAME", "You must provide a valid campaign name."};
inline constexpr StrKey STR_CAMPAIGN_RUNNING{"STR_CAMPAIGN_RUNNING", "Campaign is running"};
inline constexpr StrKey STR_CAMPAING_NAME{"STR_CAMPAING_NAME", "Campaign name"};
inline constexpr StrKey STR_CLOSE_APP{"STR_CLOSE_APP", "Are you sure you want to close the application?"};
inline constexpr StrKey STR_CONFIG_DATABASE{
    "STR_CONFIG_DATABASE",
    "Unable to connect to the database. Do you want to configure the database connection settings?"};
inline constexpr StrKey STR_CONNECTING{"STR_CONNECTING", "Connecting"};
inline constexpr StrKey STR_COUPON_NOT_REDEEMED{
    "STR_COUPON_NOT_REDEEMED", "The coupon was not redeemed: it has been used or has expired since it was checked."};
inline constexpr StrKey STR_COUPON_NOT_FOUND{"STR_COUPON_NOT_FOUND", "Counpon was not found."};
inline constexpr StrKey STR_DELETE_CAMPAIGN{"STR_DELETE_CAMPAIGN", "Are you sure you want to delete campaign?"};
inline constexpr StrKey STR_DELETE_DEVICE{"STR_DELETE_DEVICE", "Are you sure you want to delete selected device?"};
inline constexpr StrKey STR_DETECTED{"STR_DETECTED", "Detected"};
inline constexpr StrKey STR_DEVICE_MAC{"STR_DEVICE_MAC", "Device MAC"};
inline constexpr StrKey STR_DEVICE_NAME{"STR_DEVICE_NAME", "Device name"};
inline constexpr StrKey STR_DISCARD_CHANGES{
    "STR_DISCARD_CHANGES",
    "All the changes you made will be discarded. Are you sure you want to discard all the changes?"};
inline constexpr StrKey STR_DISCOVERING{"STR_DISCOVERING", "Searching for devices"};
inline constexpr StrKey STR_ENUM_RADIOS_ERROR{"STR_ENUM_RADIOS_ERROR",
                                              "Unable to enumerated Bluetooth dongles. Check your hardware."};
inline constexpr StrKey STR_EXPIRED{"STR_EXPIRED", "Expired"};
inline constexpr StrKey STR_FILE_NAME{"STR_FILE_NAME", "You must provide a valid file name."};
inline constexpr StrKey STR_FINISH{"STR_FINISH", "&Finish"};
inline constexpr StrKey STR_IMAGE{"STR_IMAGE", "You must provide valid image for this type of campaign."};
inline constexpr StrKey STR_INVALID_CODE{"STR_INVALID_CODE", "Invalid code was entered."};
inline constexpr StrKey STR_NEXT{"STR_NEXT", "&Next >>"};
inline constexpr StrKey STR_NOT_DETECTED{"STR_NOT_DETECTED", "Not detected"};
inline constexpr StrKey STR_NO_ACTIVE_CAMPAIGN{"STR_NO_ACTIVE_CAMPAIGN", "No active campaign"};
inline constexpr StrKey STR_NO_RADIOS{"STR_NO_RADIOS", "No Bluetooth dongles were found."};
inline constexpr StrKey STR_PROCESSING_CAMPAIGN{"STR_PROCESSING_CAMPAIGN", "Sending campaign %s"};
inline constexpr StrKey STR_PROMO{"STR_PROMO", "Promotion"};
inline constexpr StrKey STR_RESTART_TO_APPLY{"STR_RESTART_TO_APPLY",
                                             "You must restart the application to apply the changes."};
inline constexpr StrKey STR_RUNNING{"STR_RUNNING", "Running"};
inline constexpr StrKey STR_SCHED_CONT{"STR_SCHED_CONT", "Continuous"};
inline constexpr StrKey STR_SCHED_DAYS{"STR_SCHED_DAYS", "Days of week"};
inline constexpr StrKey STR_SCHED_TIME{"STR_SCHED_TIME", "Date/time"};
inline constexpr StrKey STR_SCHED_UNKNWON{"STR_SCHED_UNKNWON", "Unknown"};
inline constexpr StrKey STR_SELECT_DEVICE{"STR_SELECT_DEVICE", "Select device"};
inline constexpr StrKey STR_SELECT_FILE{"STR_SELECT_FILE", "Select file"};
inline constexpr StrKey STR_SENDER_RUNNING{"STR_SENDER_RUNNING", "Sender is running"};
inline constexpr StrKey STR_SENDER_STOPPED{"STR_SENDER_STOPPED", "Sender is stopped"};
inline constexpr StrKey STR_SENDING{"STR_SENDING", "Sending file..."};
inline constexpr StrKey STR_SEND_COMPLETE{"STR_SEND_COMPLETE", "Send complete with succes."};
inline constexpr StrKey STR_SEND_TIME{"STR_SEND_TIME", "Sent date time"};
inline constexpr StrKey STR_SLEEPPING{"STR_SLEEPPING", "Sleepping"};
inline constexpr StrKey STR_STATUS_ACCEPTED{"STR_STATUS_ACCEPTED", "Accepted"};
inline constexpr StrKey STR_STATUS_ALREADY_SENT{"STR_STATUS_ALREADY_SENT", "Already processed"};
inline constexpr StrKey STR_STATUS_BLACK_LIST{"STR_STATUS_BLACK_LIST", "In black list"};
inline constexpr StrKey STR_STATUS_BUSY{"STR_STATUS_BUSY", "Busy by other interface"};
inline constexpr StrKey STR_STATUS_IGNORED{"STR_STATUS_IGNORED", "Ignored"};
inline constexpr StrKey STR_STATUS_OK{"STR_STATUS_OK", "Success"};
inline constexpr StrKey STR_STATUS_REJECTED{"STR_STATUS_REJECTED", "Rejected"};
inline constexpr StrKey STR_STATUS_SENDING{"STR_STATUS_SENDING", "Sending"};
inline constexpr StrKey STR_STATUS_TEMP_BL{"STR_STATUS_TEMP_BL", "In temporary blacklist"};
inline constexpr StrKey STR_STATUS_UNKNOWN{"STR_STATUS_UNKNOWN", "Unknown"};
inline constexpr StrKey STR_STATUS_WHITE_LITS{"STR_STATUS_WHITE_LITS", "Not in white list"};
inline constexpr StrKey STR_STOPPED{"STR_STOPPED", "Stopped"};
inline constexpr StrKey STR_TEXT{"STR_TEXT", "Text"};
inline constexpr StrKey STR_TYPE_FILE{"STR_TYPE_FILE", "File"};
inline constexpr StrKey STR_TYPE_UNKNOWN{"STR_TYPE_UNKNOWN", "Unknown"};
inline constexpr StrKey STR_UNABLE_ADD_CMPAIGN{"STR_UNABLE_ADD_CMPAIGN",
                                               "Unable to cretae new campaign. Check campaign settings."};
inline constexpr StrKey STR_UNABLE_CONNECT{"STR_UNABLE_CONNECT", "Unable connect: %s"};
inline constexpr StrKey STR_UNABLE_DICOVER{"STR_UNABLE_DICOVER", "Unale to start searching for remote devices."};
inline constexpr StrKey STR_UNABLE_SEND{"STR_UNABLE_SEND", "Unable to send a file: %s"};
inline constexpr StrKey STR_UNABLE_START{"STR_UNABLE_START", "Unable to start sender."};
inline constexpr StrKey STR_UNABLE_UPD_CMPAIGN{"STR_UNABLE_UPD_CMPAIGN",
                                               "Unable to update campaign. Check campaign settings."};
inline constexpr StrKey STR_UNSTORABLE_TEXT{
    "STR_UNSTORABLE_TEXT", "The database cannot store some of the characters entered: it was created for one code "
                           "page only. Remove those characters, or use a database created by this version."};
inline constexpr StrKey STR_UNSUPPORTED_CAMP_TYPE{"STR_UNSUPPORTED_CAMP_TYPE", "Unknown or unsupported campaign type."};
inline constexpr StrKey STR_USED{"STR_USED", "Already used"};
inline constexpr StrKey STR_VALID_TILL{"STR_VALID_TILL", "Valid till"};
// A field's refusal before saving: %s is the field's caption, then its smallest and largest value.
inline constexpr StrKey STR_VALUE_RANGE{"STR_VALUE_RANGE", "\"%s\" must be a whole number from %d to %d."};
inline constexpr StrKey STR_VALUE_REQUIRED{"STR_VALUE_REQUIRED", "\"%s\" must not be empty."};

// Every text key above, in alphabetical order.
inline constexpr std::size_t STR_KEY_COUNT = 69;
const std::array<StrKey, STR_KEY_COUNT>& AllStrKeys();

// Texts of the station's own beyond the list above, which stays as the language files
// already in use know it.
inline constexpr StrKey STR_DB_LOST{"STR_DB_LOST", "Database connection lost, reconnecting"};
inline constexpr StrKey STR_DB_LOST_INFO{
    "STR_DB_LOST_INFO",
    "The connection to the database was lost: %s\n\nNo new pushes start. The station reconnects by itself, records "
    "the results of the pushes that ended meanwhile and, if sending was on, starts sending again."};
inline constexpr StrKey STR_DB_WAITING{"STR_DB_WAITING", "Waiting for the database to start sending"};
inline constexpr StrKey STR_DB_NO_ANSWER{"STR_DB_NO_ANSWER", "The database server did not answer within %d seconds."};
inline constexpr StrKey STR_DB_OPEN_FAILED{"STR_DB_OPEN_FAILED", "The database could not be opened: %s"};
inline constexpr StrKey STR_READING_REPORT{"STR_READING_REPORT", "Reading the report..."};
inline constexpr StrKey STR_NO_HELP_FILE{"STR_NO_HELP_FILE", "The help file \"%s\" was not found in %s."};
inline constexpr StrKey STR_KEPT_DAMAGED{"STR_KEPT_DAMAGED",
                                         "Some kept push results could not be read (%s). The readable ones are "
                                         "recorded."};
inline constexpr StrKey STR_KEPT_REFUSED{"STR_KEPT_REFUSED",
                                         "The database refused these kept push results, which are dropped:\n%s"};
inline constexpr StrKey STR_KEEP_FAILED{"STR_KEEP_FAILED",
                                        "A push result could not be kept on disk (%s); it is kept until the program "
                                        "closes."};

// "Yes" for true, "No" for false; these two words are not translated.
QString BoolToYesNo(bool value);
// True exactly for "Yes" (case-sensitive).
bool YesNoToBool(const QString& text);
