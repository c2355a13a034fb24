// A phone's service as the raw SDP record a stack hands back for a service lookup:
// one data-element sequence of attribute id / value pairs.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/air/Air.h"

namespace air {

// Attributes, in ascending id order: ServiceRecordHandle (0x0000), ServiceClassIDList (0x0001),
// ProtocolDescriptorList (0x0004: L2CAP, RFCOMM with the channel), LanguageBaseAttributeIDList
// (0x0006: "en", UTF-8, base 0x0100), ServiceName (0x0100) and, when set, ServiceDescription (0x0101).
std::vector<uint8_t> RenderSdpRecord(const Service& service);

// Data-element building blocks (big-endian, as on the air).
namespace sdp {
void PutUint8(std::vector<uint8_t>& out, uint8_t v);
void PutUint16(std::vector<uint8_t>& out, uint16_t v);
void PutUint32(std::vector<uint8_t>& out, uint32_t v);
void PutUuid(std::vector<uint8_t>& out, const std::array<uint8_t, 16>& uuid); // shortest form
void PutText(std::vector<uint8_t>& out, const std::string& utf8);
void PutSequence(std::vector<uint8_t>& out, const std::vector<uint8_t>& members);
} // namespace sdp

} // namespace air
