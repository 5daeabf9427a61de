// Fuzz target for the handover record's decoder: the bytes are read as the record file is (UTF-16
// units, little-endian pairs; an odd last byte is dropped). A record that decodes must encode to a
// text that decodes to the same record, and every copy name must be one the sweep recognises.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "record_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "record_decode_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    const std::optional<vellomar::PendingUpdate> update = vellomar::decode_record(text);
    if (update) {
        const std::u16string encoded = vellomar::encode_record(*update);
        const std::optional<vellomar::PendingUpdate> again = vellomar::decode_record(encoded);
        if (!again || vellomar::encode_record(*again) != encoded || !(again->launch == update->launch) ||
            again->helper_created != update->helper_created || again->launch_file != update->launch_file) {
            fail("a decoded record does not survive encoding");
        }
    }
    const int number = text.empty() ? 1 : 1 + text[0] % vellomar::copy_names;
    if (!vellomar::is_copy_name(vellomar::copy_name(text, number))) {
        fail("a copy name the sweep does not recognise");
    }
    return 0;
}
