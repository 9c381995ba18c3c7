// Reads a dialog template resource (DLGTEMPLATE or DLGTEMPLATEEX) from its
// bytes, so tests can check the dialog a program file carries without
// creating it. Portable: the layout is fixed little-endian data.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon::remote {

struct TemplateItem {
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t id = 0;
    std::u16string windowClass;   // name, or "#n" for a predefined class atom
    std::u16string text;          // text, or "#n" for a resource number
};

struct DialogTemplate {
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::int16_t cx = 0, cy = 0;
    std::u16string title;
    std::uint16_t pointSize = 0;   // only with the set-font style
    std::u16string face;
    std::vector<TemplateItem> items;
};

// nullopt when the bytes end before the template does.
std::optional<DialogTemplate> ReadDialogTemplate(std::span<const std::uint8_t> data);

}  // namespace quillon::remote
