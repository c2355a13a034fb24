// The radio a Bluetooth connection goes through belongs to the radio unit.
#pragma once

#include "vyrBluetoothDiscovery.h"
