// What the road tests record of a client connection, and the phone they connect to.
#pragma once

#include "Bytes.h"
#include "sim/air/Air.h"
#include "vyrConnections.h"

#include <string>
#include <vector>

namespace tavtest {

struct ConnectionEvents {
    std::vector<int> connects;
    int disconnects = 0;
    std::string data;
    void Bind(vyr::TvyrCustomClientConnection& c) {
        c.OnConnect = [this](vcl::TObject*, int code) { connects.push_back(code); };
        c.OnDisconnect = [this](vcl::TObject*) { ++disconnects; };
        c.OnData = [this](vcl::TObject*, const void* b, win::DWORD n) { data.append(static_cast<const char*>(b), n); };
    }
};

// The road tests' phone: Object Push on channel 9 and a serial service on channel 3.
inline air::Phone TwoServicePhone(const air::Address& address) {
    air::Phone p;
    p.address = address;
    p.name = "Marta";
    air::Service opp;
    opp.uuid = air::Service::FromUuid16(air::kObexObjectPushUuid16);
    opp.channel = 9;
    opp.name = "OBEX Object Push";
    air::Service spp;
    spp.uuid = air::Service::FromUuid16(0x1101);
    spp.channel = 3;
    spp.name = "Serial";
    p.services = {opp, spp};
    return p;
}

} // namespace tavtest
