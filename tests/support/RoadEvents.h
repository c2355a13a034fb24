// What the road tests record of a client connection, and the byte patterns they push through it.
#pragma once

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

// n pseudo-random bytes, the same for the same seed.
inline std::string Pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

} // namespace tavtest
