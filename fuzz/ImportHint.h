// The format hint a fuzz input names with its first byte; the fuzzer and the corpus test share it.
#pragma once

#include <cstdint>

constexpr const char* kImportHints[] = {"obj", "ply", "stl", "off", "gltf"};
constexpr unsigned kImportHintCount = sizeof(kImportHints) / sizeof(kImportHints[0]);

inline const char* importHint(uint8_t firstByte) {
    return kImportHints[firstByte % kImportHintCount];
}
