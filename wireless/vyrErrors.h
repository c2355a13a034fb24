// Library error codes, their English texts and the misuse exceptions.
// Operations return a code (0 = success); exceptions are only for misuse.
#pragma once

#include "vcl/SysUtils.h"

#include <string>

namespace vyr {

enum : int {
    VYR_SUCCESS = 0,
    VYR_OUT_OF_RESOURCES = 1,
    VYR_INTERNAL_ERROR = 2,
    VYR_NOT_IMPLEMENTED = 3,
    VYR_NOT_SUPPORTED = 4,
    VYR_INVALID_ARGUMENT = 5,
    VYR_API_ALREADY_LOADED = 10,
    VYR_API_OTHER_INSTANCE = 11,
    VYR_API_NOT_LOADED = 12,
    VYR_TRANSPORT_NOT_AVAILABLE = 13,
    VYR_BLUETOOTH_API_NOT_AVAILABLE = 14,
    VYR_DISCOVERY_NOT_STARTED = 20,
    VYR_DISCOVERY_ACTIVE = 21,
    VYR_ALREADY_PAIRED = 30,
    VYR_AUTHENTICATION_FAILED = 31,
    VYR_CANCELLED_BY_USER = 32,
    VYR_ACCESS_DENIED = 33,
    VYR_NOT_CONNECTED = 40,
    VYR_CONNECTION_ACTIVE = 41,
    VYR_CONNECTION_EXISTS = 42,
    VYR_TIMEOUT = 43,
    VYR_SERVICE_NOT_FOUND = 44,
    VYR_UNABLE_CONNECT = 45,
    VYR_CONNECTION_REJECTED = 46,
    VYR_CONNECTION_TERMINATED = 47,
    VYR_OBEX_SESSION_ACTIVE = 100,
    VYR_OBEX_OPERATION_IN_PROGRESS = 101,
    VYR_OBEX_SESSION_NOT_ACTIVE = 102,
    VYR_OBEX_NO_CONTENT = 103,
    VYR_OBEX_OPERATION_NOT_ACTIVE = 104,
    VYR_OBEX_RESET_CONTENT = 105,
    VYR_OBEX_NON_AUTHORITATIVE = 106,
    VYR_OBEX_PARTIAL_CONTENT = 107,
    VYR_OBEX_MULTIPLE_CHOICES = 108,
    VYR_OBEX_MOVED_PERMANENTLY = 109,
    VYR_OBEX_MOVED_TEMPORARY = 110,
    VYR_OBEX_SEE_OTHER = 111,
    VYR_OBEX_NOT_MODIFIED = 112,
    VYR_OBEX_USE_PROXY = 113,
    VYR_OBEX_BAD_REQUEST = 114,
    VYR_OBEX_UNAUTHORIZED = 115,
    VYR_OBEX_PAYMENT_REQUIRED = 116,
    VYR_OBEX_FORBIDDEN = 117,
    VYR_OBEX_NOT_FOUND = 118,
    VYR_OBEX_METHOD_NOT_ALLOWED = 119,
    VYR_OBEX_NOT_ACCEPTABLE = 120,
    VYR_OBEX_PROXY_AUTH_REQUIRED = 121,
    VYR_OBEX_REQUEST_TIMEOUT = 122,
    VYR_OBEX_CONFLICT = 123,
    VYR_OBEX_GONE = 124,
    VYR_OBEX_LENGTH_REQUIRED = 125,
    VYR_OBEX_PRECONDITION_FAILED = 126,
    VYR_OBEX_ENTITY_TOO_LARGE = 127,
    VYR_OBEX_URL_TOO_LARGE = 128,
    VYR_OBEX_UNSUPPORTED_MEDIA = 129,
    VYR_OBEX_INTERNAL_SERVER_ERROR = 130,
    VYR_OBEX_NOT_IMPLEMENTED = 131,
    VYR_OBEX_BAD_GATEWAY = 132,
    VYR_OBEX_SERVICE_UNAVAILABLE = 133,
    VYR_OBEX_GATEWAY_TIMEOUT = 134,
    VYR_OBEX_HTTP_VERSION = 135,
    VYR_OBEX_DATABASE_FULL = 136,
    VYR_OBEX_DATABASE_LOCKED = 137,
    VYR_OBEX_UNKNOWN = 199,
    VYR_AUTHENTICATOR_ACTIVE = 200,
    VYR_AUTHENTICATOR_CALLBACK = 201,
    VYR_USB_MONITOR_ACTIVE = 300,
    VYR_PROXIMITY_STARTED = 400,
    VYR_PROXIMITY_RUNNING = 401,
    VYR_PROXIMITY_NO_SEND_RADIO = 402,
    VYR_PROXIMITY_NO_DISCOVERY_RADIO = 403,
    VYR_PROXIMITY_INVALID_FILE = 404,
    VYR_AT_EXECUTE = 500,
    VYR_AT_UNKNOWN_RESULT = 501,
    VYR_AT_IN_PROGRESS = 502,
    VYR_WIFI_ACTIVE = 600,
    VYR_WIFI_NOT_ACTIVE = 601,
    VYR_WIFI_OTHER_INSTANCE = 602,
    VYR_WIFI_NO_MANAGER = 603,
    VYR_WIFI_NO_DATA = 604,
    VYR_WIFI_CALLBACK = 605,
    VYR_SERIAL_MONITORING_ACTIVE = 700,
};

// English text of a code; "" for 0, "Unknown error" for any code not listed.
std::u16string GetErrorText(int code);

class vyrException : public vcl::Exception {
public:
    using vcl::Exception::Exception;
};
class vyrEIndexOutOfBounds : public vyrException {
public:
    using vyrException::vyrException;
};
class vyrEInvalidArgument : public vyrException {
public:
    using vyrException::vyrException;
};
class vyrEInvalidAddress : public vyrException {
public:
    using vyrException::vyrException;
};
class vyrEConnectionActive : public vyrException {
public:
    using vyrException::vyrException;
};
class vyrEProximitySenderActive : public vyrException {
public:
    using vyrException::vyrException;
};

// Exception message literals, formatted with vcl::Format where they carry %i or %s.
inline constexpr const char16_t* StrIndexOutOfBounds = u"Index out of bounds (%i).";
inline constexpr const char16_t* StrRadioNotValid = u"Radio parameter is not valid.";
inline constexpr const char16_t* StrRadiosNotValid = u"Radios parameter is not valid.";
inline constexpr const char16_t* StrDeviceNotValid = u"Device parameter is not valid.";
inline constexpr const char16_t* StrDevicesNotValid = u"Devices parameter is not valid.";
inline constexpr const char16_t* StrServiceNotValid = u"Service parameter is not valid.";
inline constexpr const char16_t* StrServicesNotValid = u"Services parameter is not valid.";
inline constexpr const char16_t* StrInvalidPin = u"\"%s\" is not valid PIN.";
inline constexpr const char16_t* StrInvalidDeviceAddress = u"%s is not valid Bluetooth address.";
inline constexpr const char16_t* StrInvalidClientAddress = u"%s is not valid bluetooth address.";
inline constexpr const char16_t* StrInvalidIrDAAddress = u"%s is not valid IrDA address.";
inline constexpr const char16_t* StrConnectionRequired = u"Connection is required.";
inline constexpr const char16_t* StrInvalidBufferSize = u"Invalid buffer size.";
inline constexpr const char16_t* StrInvalidService = u"Invalid service.";
inline constexpr const char16_t* StrInvalidBaudRate = u"Invalid BaudRate value.";
inline constexpr const char16_t* StrInvalidPortNumber = u"Invalid port number";
inline constexpr const char16_t* StrBuffersNotValid = u"Buffers object is not valid.";
inline constexpr const char16_t* StrBluetoothParamsNotValid = u"BluetoothParams object is not valid.";
inline constexpr const char16_t* StrIrDAParamsNotValid = u"IrDAParams object is not valid.";
inline constexpr const char16_t* StrSerialParamsNotValid = u"SerialParams object is not valid.";
inline constexpr const char16_t* StrTimeoutNotValid = u"Timeout is not valid.";
inline constexpr const char16_t* StrInvalidPacketSize = u"Invalid packet size.";
inline constexpr const char16_t* StrInvalidParamsOwner = u"Invalid params owner.";
inline constexpr const char16_t* StrInvalidTimeoutValue = u"Invalid timeout value.";
inline constexpr const char16_t* StrOBEXParamsNotValid = u"OBEXParams object is not valid.";
inline constexpr const char16_t* StrFileSystemObjectNotValid = u"FileSystemObject parameter is not valid.";
inline constexpr const char16_t* StrMaxConnections = u"Max connections value must be > 0.";
inline constexpr const char16_t* StrSendDelay = u"Send delay value must be > 0.";
inline constexpr const char16_t* StrSleepInterval = u"Sleep interval must be > 0.";
inline constexpr const char16_t* StrTimeoutPositive = u"Timeout must be > 0.";
inline constexpr const char16_t* StrConnectionActive = u"Connection is active.";
inline constexpr const char16_t* StrProximitySenderActive = u"Proximity sender is active.";

} // namespace vyr
