// Runtime library: the assistant's acknowledgement sentence.
#include "vl_stdlib.h"

#include <cstdio>

char* vl_ai_prompt(VlArena* arena, const char* query) {
    if (!arena) return nullptr;
    char sentence[512];  // a longer sentence is cut to 511 bytes
    std::snprintf(sentence, sizeof sentence, "[VLAI Brain] Processed query: '%s'. Status: 100%% Operational.",
                  query ? query : "");
    return vl_arena_strdup(arena, sentence);
}
