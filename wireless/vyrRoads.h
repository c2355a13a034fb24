// The transport roads of this build, as the road table makes them (vyrTransportRoad.cpp).
#pragma once

#include "vyrTransportRoad.h"

#include <functional>
#include <memory>
#include <string>

namespace vyr {

std::unique_ptr<TvyrTransportRoad> CreateSerialRoad(TvyrCustomClientConnection& connection);
std::unique_ptr<TvyrTransportRoad> CreateMicrosoftRoad(TvyrCustomClientConnection& connection);
std::unique_ptr<TvyrTransportRoad> CreateIrDARoad(TvyrCustomClientConnection& connection);
std::unique_ptr<TvyrTransportRoad> CreateWidCommRoad(TvyrCustomClientConnection& connection);
std::unique_ptr<TvyrTransportRoad> CreateBlueSoleilRoad(TvyrCustomClientConnection& connection);
std::unique_ptr<TvyrTransportRoad> CreateToshibaRoad(TvyrCustomClientConnection& connection);

// The Microsoft road's pairing step, over the stack's device calls. Both take the device address text.
// IsAuthenticated: true when the stack reports a bond. Authenticate: the platform's result (0 paired,
// 5 denied, 259 already, 1223 cancelled, 1244 not authenticated, others). By default they are the stack's
// BluetoothGetDeviceInfo and BluetoothAuthenticateDevice; a test may replace them. Without an Authenticate
// function the step is skipped, as when the pairing thread cannot start.
struct TvyrRfcommPairing {
    std::function<bool(const std::u16string& address)> IsAuthenticated;
    std::function<unsigned(const std::u16string& address)> Authenticate;
};
TvyrRfcommPairing& RfcommPairing();
void RestoreRfcommPairing();

// The pairing step's result for a platform code: 0 -> 0, 5 -> 33, 259 -> 30, 1223 -> 32, 1244 -> 31, else 2.
int PairingResultToError(unsigned platformCode);
// A socket error as a library code (the road's own choice for 10022: 33 Microsoft, 45 IrDA).
int SocketErrorToError(int socketError, int invalidArgument);

} // namespace vyr
