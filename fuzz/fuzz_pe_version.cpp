// Feeds arbitrary bytes to the version resource reader twice: as a whole PE file,
// served range by range through the same reader that reads library files (headers,
// sections, resource tree, the version block wherever it lies), and as a bare
// version block, so the node walk is exercised even by inputs that never get past
// the PE headers.
#include <cstddef>
#include <cstdint>
#include <span>

#include "code/pe_version_resource.h"

namespace {

void query_block(std::span<const uint8_t> block) {
    std::span<const uint8_t> value;
    bool isText = false;
    QueryVersionValue(block, u"", value, isText);
    for (const VersionTranslation& t : VersionTranslations(block)) {
        if (QueryVersionValue(block, VersionStringSubBlock(t, u"ProductVersion"), value, isText))
            (void)VersionText(value);
    }
    if (QueryVersionValue(block, u"\\StringFileInfo\\040904b0\\\\CompanyName", value, isText))
        (void)VersionText(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    std::span<const uint8_t> block;
    if (FindVersionResource(bytes, block) == PeVersionStatus::Ok) {
        // The block found must be a view of the input's own bytes.
        if (block.data() < data || block.size() > size - (block.data() - data)) __builtin_trap();
        query_block(block);
    }
    query_block(bytes);
    return 0;
}
