// Reading the parts of a language-server message that may be missing or of
// the wrong type, and writing positions: shared by the server and its answers.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "vllsp_document.h"

// A member of an object, or null when `value` is no object or lacks it.
inline const nlohmann::json* vl_lsp_member(const nlohmann::json& value, const char* key) {
    if (!value.is_object()) return nullptr;
    auto it = value.find(key);
    return it == value.end() ? nullptr : &*it;
}

inline const nlohmann::json* vl_lsp_path(const nlohmann::json& value, std::initializer_list<const char*> keys) {
    const nlohmann::json* at = &value;
    for (const char* key : keys)
        if (!(at = vl_lsp_member(*at, key))) return nullptr;
    return at;
}

inline const std::string* vl_lsp_string_at(const nlohmann::json& value, std::initializer_list<const char*> keys) {
    const nlohmann::json* at = vl_lsp_path(value, keys);
    return at && at->is_string() ? &at->get_ref<const std::string&>() : nullptr;
}

inline std::optional<VlLspPosition> vl_lsp_position_of(const nlohmann::json* position) {
    const nlohmann::json* line = position ? vl_lsp_member(*position, "line") : nullptr;
    const nlohmann::json* character = position ? vl_lsp_member(*position, "character") : nullptr;
    if (!line || !character || !line->is_number_integer() || !character->is_number_integer()) return std::nullopt;
    return VlLspPosition{line->get<int64_t>(), character->get<int64_t>()};
}

inline nlohmann::json vl_lsp_json(VlLspPosition at) { return {{"line", at.line}, {"character", at.character}}; }

inline nlohmann::json vl_lsp_json(const VlLspRange& range) {
    return {{"start", vl_lsp_json(range.start)}, {"end", vl_lsp_json(range.end)}};
}
