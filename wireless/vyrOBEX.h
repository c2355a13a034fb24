// OBEX client unit: the wire format (vyrOBEXPackets.h) and the client session.
#pragma once

#include "vyrOBEXPackets.h"
