// Service search: the public entry forwards to the radio's backend. Here too is the reading of one raw SDP
// record into a service, for the stacks that hand back records; every element taken from a record is
// size-checked, since the record comes from the remote device.
#include "vyrBluetoothDiscovery.h"

#include "vcl/SysUtils.h"
#include "vyrBackend.h"
#include "vyrSDPParser.h"

#include <cstring>

namespace vyr {

namespace {

constexpr std::uint16_t AttrServiceClassIdList = 0x0001;
constexpr std::uint16_t AttrProtocolDescriptorList = 0x0004;
constexpr std::uint16_t AttrLanguageBase = 0x0006;
constexpr std::uint16_t AttrProfileDescriptorList = 0x0009;
constexpr std::uint16_t AttrServiceName = 0x0100;
constexpr std::uint16_t AttrServiceDescription = 0x0101;
constexpr std::uint16_t SerialPortClass = 0x1101;
constexpr std::uint16_t Utf8Mib = 106;

const TvyrSDPElement* Element(const TvyrSDPAttribute* a, int index) {
    if (!a || index < 0 || index >= a->Elements()->Count())
        return nullptr;
    return a->Elements()->Items(index);
}

bool IsUuidSize(std::uint32_t size) {
    return size == 2 || size == 4 || size == 16;
}

// The 16-bit value by which a class element is compared with SerialPort.
std::uint16_t Short16(const TvyrSDPElement* e) {
    if (e->Size() == 2)
        return e->AsWord();
    if (e->Size() == 4)
        return static_cast<std::uint16_t>(e->AsCardinal());
    if (e->Size() >= 4)
        return static_cast<std::uint16_t>(e->Data()[2] << 8 | e->Data()[3]);
    return 0;
}

} // namespace

win::GUID UuidFromBigEndian(const std::uint8_t* b) {
    win::GUID g{};
    g.Data1 = static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    g.Data2 = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
    g.Data3 = static_cast<std::uint16_t>(b[6] << 8 | b[7]);
    std::memcpy(g.Data4, b + 8, 8);
    return g;
}

namespace {

std::u16string SdpText(const TvyrSDPElement* e, bool wide) {
    if (!e || e->Size() == 0)
        return {};
    if (!wide)
        return vcl::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(e->Data()), e->Size()));
    // Two bytes per character, low byte first; an odd last byte is left out.
    std::u16string out(e->Size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(e->Data()[2 * i] | e->Data()[2 * i + 1] << 8);
    return out;
}

} // namespace

// One service from one SDP record; null when the record names no usable class.
std::unique_ptr<TvyrBluetoothService> ServiceFromRecord(const TvyrSDPServiceRecord& record) {
    const TvyrSDPAttribute* profiles = record.AttributeById(AttrProfileDescriptorList);
    const TvyrSDPAttribute* classes = profiles ? profiles : record.AttributeById(AttrServiceClassIdList);
    if (!classes || classes->Elements()->Count() == 0)
        return nullptr;
    const TvyrSDPElement* cls = Element(classes, 0);
    if (!profiles) {
        for (const auto& e : *classes->Elements())
            if (IsUuidSize(e->Size()) && Short16(e.get()) != SerialPortClass) {
                cls = e.get();
                break;
            }
    }
    if (!IsUuidSize(cls->Size()))
        return nullptr;

    auto service = std::make_unique<TvyrBluetoothService>();
    if (cls->Size() == 16)
        service->SetUuid(UuidFromBigEndian(cls->Data()));
    else
        service->SetUuid(BluetoothUuid(Short16(cls)));

    const TvyrSDPAttribute* protocols = record.AttributeById(AttrProtocolDescriptorList);
    if (const TvyrSDPElement* channel =
            protocols && protocols->Elements()->Count() > 2 ? Element(protocols, 2) : nullptr)
        service->SetChannel(channel->Size() ? channel->Data()[0] : 0);

    bool wide = false;
    const TvyrSDPAttribute* language = record.AttributeById(AttrLanguageBase);
    if (language && language->Elements()->Count() >= 2) {
        const TvyrSDPElement* encoding = Element(language, 1);
        // A short encoding element cannot name anything: keep UTF-8.
        wide = encoding->Size() >= 2 && encoding->AsWord() != Utf8Mib;
    }
    service->SetName(SdpText(Element(record.AttributeById(AttrServiceName), 0), wide));
    service->SetComment(SdpText(Element(record.AttributeById(AttrServiceDescription), 0), wide));
    service->SetHandle(record.Handle());
    return service;
}

int TvyrBluetoothDevice::EnumServices(const TvyrBluetoothRadio* radio, TvyrBluetoothServices* services,
                                      const win::GUID* uuid) const {
    if (!services)
        throw vyrEInvalidArgument(StrServicesNotValid);
    if (const int r = CheckRadio(radio))
        return r;
    return radio->Backend().EnumServices(address_, services, uuid);
}

} // namespace vyr
