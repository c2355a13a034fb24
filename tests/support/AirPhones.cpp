#include "AirPhones.h"

#include <cctype>

namespace tavtest {

air::Phone PushPhone(const air::Address& address, const std::string& name, const std::string& inbox, bool paired) {
    air::Phone p;
    p.address = address;
    p.name = name;
    p.classOfDevice = 0x5A020C; // a smartphone
    p.inbox = inbox;
    p.pairing.paired = paired;
    air::Service s;
    s.uuid = air::Service::FromUuid16(air::kObexObjectPushUuid16);
    s.channel = 9;
    s.name = "OBEX Object Push";
    p.services.push_back(s);
    return p;
}

void PlugRadio(int stack, std::uint8_t last, bool present) {
    air::Radio r;
    r.present = present;
    r.address = {0x00, 0x11, 0x22, 0x33, 0x44, last};
    r.name = "STATION";
    air::Air::Instance().SetRadio(stack, r);
}

std::string AddressFolder(const std::string& address) {
    std::string out;
    for (char c : address)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            out += c;
    return out;
}

} // namespace tavtest
