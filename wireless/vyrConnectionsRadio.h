// The radio a Bluetooth connection goes through. The radio class belongs to the radio unit
// (vyrBluetoothDiscovery.h); the connections need only three things of it: a default radio, Assign and
// Api. Until that unit is in the tree, the small class below stands in with exactly those, so the
// connections build on their own; once the header exists it is used instead and this one says nothing.
#pragma once

#if __has_include("vyrBluetoothDiscovery.h")
#include "vyrBluetoothDiscovery.h"
#else
#include "vcl/Classes.h"
#include "vyrAPI.h"
#include "vyrErrors.h"

namespace vyr {

class TvyrBluetoothRadio : public vcl::TObject {
public:
    TvyrBluetoothRadio() = default;
    explicit TvyrBluetoothRadio(TvyrBluetoothApi api) : api_(api) {}

    TvyrBluetoothApi Api() const { return api_; }
    // Copies the stack kind; null raises "Radio parameter is not valid.".
    void Assign(const TvyrBluetoothRadio* radio) {
        if (!radio)
            throw vyrEInvalidArgument(StrRadioNotValid);
        api_ = radio->api_;
    }

private:
    TvyrBluetoothApi api_ = baBlueSoleil;
};

} // namespace vyr
#endif
