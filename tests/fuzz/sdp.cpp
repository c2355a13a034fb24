// SDP records as a remote device returns them.
#include "vyrSDPParser.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFF)
        return 0;
    vyr::TvyrSDPParser parser(data, static_cast<int>(size));
    unsigned sum = 0;
    for (const auto& record : *parser.Records()) {
        sum += record->Handle();
        for (const auto& attr : *record->Attributes()) {
            if (record->AttributeById(attr->ID()) == nullptr)
                __builtin_trap();
            for (const auto& e : *attr->Elements()) {
                if (e->Size() > size || (e->Size() == 0) != (e->Data() == nullptr))
                    __builtin_trap();
                sum += e->AsByte() + e->AsWord() + e->AsCardinal();
                for (std::uint32_t i = 0; i < e->Size(); ++i)
                    sum += e->Data()[i];
            }
        }
    }
    (void)sum;
    return 0;
}

static const std::vector<std::vector<uint8_t>> kSeeds = {
    {0x35, 0x10, 0x09, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x07, 0x09, 0x00, 0x01, 0x35, 0x03, 0x19, 0x11, 0x05},
    {0x35, 0x1A, 0x09, 0x00, 0x00, 0x0A, 0x00, 0x01, 0x00, 0x00, 0x09, 0x00, 0x04, 0x35,
     0x0C, 0x35, 0x03, 0x19, 0x01, 0x00, 0x35, 0x05, 0x19, 0x00, 0x03, 0x08, 0x0C},
    {0x09, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x02, 0x09, 0x00, 0x05, 0x37, 0x00, 0x00,
     0x00, 0x03, 0x19, 0x11, 0x05, 0x09, 0x01, 0x00, 0x25, 0x03, 'O',  'P',  'P'},
};
// Seeds for the plain driver; the declaration is shared with it, so the C++ return type stays.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" size_t TavlinFuzzSeedCount() {
    return kSeeds.size();
}
extern "C" const std::vector<uint8_t>& TavlinFuzzSeed(size_t i) {
    return kSeeds[i];
}
