// A transport road for tests and benchmarks that reaches the simulated phone a client connection names:
// the connection's address and radio go to the air as a stack's RFCOMM connect would, so the phone's
// reach, link policy and pairing decide the outcome. A phone that needs a bond refuses an
// unauthenticated link with 33 and is paired (any PIN) when the connection asks for authentication.
#pragma once

#include "vyrAPI.h"

namespace tavtest {

// While an object of this class lives, every client connection's road is a phone road and the library
// is loaded.
class PhoneRoads {
public:
    PhoneRoads();
    ~PhoneRoads();
    PhoneRoads(const PhoneRoads&) = delete;
    PhoneRoads& operator=(const PhoneRoads&) = delete;

    vyr::TvyrAPI& Api() { return api_; }

private:
    vyr::TvyrAPI api_;
};

} // namespace tavtest
