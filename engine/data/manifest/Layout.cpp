#include "Layout.h"

namespace quillory::data {

namespace {

// Describe indexes kLayouts by the enumerator.
constexpr bool InEnumOrder() {
    for (std::size_t i = 0; i < kLayouts.size(); ++i) {
        if (static_cast<std::size_t>(kLayouts[i].layout) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InEnumOrder(), "kLayouts must list the layouts in the order of their enumerators");

} // namespace

const LayoutDescription* FindLayout(std::string_view format) {
    for (const LayoutDescription& layout : kLayouts) {
        if (layout.format == format) {
            return &layout;
        }
    }
    return nullptr;
}

std::string FormatsText(bool (*which)(const LayoutDescription&)) {
    std::string text;
    std::string_view last;
    for (const LayoutDescription& layout : kLayouts) {
        if (which != nullptr && !which(layout)) {
            continue;
        }
        if (!last.empty()) {
            text += (text.empty() ? "" : ", ") + std::string(last);
        }
        last = layout.format;
    }
    return text.empty() ? std::string(last) : text + " or " + std::string(last);
}

} // namespace quillory::data
