// Formats come from translation files too, so any format text must be safe.
#include "vcl/SysUtils.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::u16string format = vcl::Utf8ToUtf16(text);
    (void)vcl::Format(format, u"name", 42, -7, 3.5);
    (void)vcl::Utf16ToUtf8(format);
    int v = 0;
    (void)vcl::TryStrToInt(format, v);
    return 0;
}
