// The language server's answers built from a document's analysis: its
// diagnostics, and the requests of the full feature set that a client asks
// for with "initializationOptions": {"features": "all"}.
#pragma once
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "vllsp_document.h"

// The capabilities that a client of the full feature set is told.
[[nodiscard]] const nlohmann::json& vl_lsp_full_capabilities();

// The diagnostics of a document.  Without `surprises`, only its syntax
// errors, as every client gets them; with it, the surprises too, each with
// its code and, when `guide` (a URL of the language guide) is not empty, a
// link to its section there.
[[nodiscard]] nlohmann::json vl_lsp_diagnostics(const VlLspDocument& document, bool surprises, std::string_view guide);

struct VlLspReply {
    nlohmann::json result;       // when `error_code` is 0
    std::string written;         // the result already as JSON text, instead of `result` when not empty
    int error_code = 0;
    std::string error_message;
    std::string notice;          // a window/showMessage error to send as well, when not empty
};

struct VlLspClient {
    bool hierarchical_symbols = false;  // takes DocumentSymbol trees
};

// Answers `method` for `document` (null: a document that is not open).
// False when `method` is not one of the feature set's requests.
[[nodiscard]] bool vl_lsp_answer(std::string_view method, const nlohmann::json& params, const VlLspDocument* document,
                                 const std::string& uri, const VlLspClient& client, VlLspReply* reply);
