// A model file the user names: checked before the importer sees it, imported under a memory bound.
#pragma once

#include <string>
#include <vector>

#include "render/MeshParts.h"

struct aiScene;

struct ModelImport {
    const aiScene* scene = nullptr;  // owned by the caller; null when `error` says why
    std::string error;
    double seconds = 0.0;  // the import alone
    MeshFlags flags;
    std::vector<OglMeshPart> parts;  // placed by the scene's nodes, filled, not uploaded
};

// Why the file cannot be imported, found without opening anything that could block (a named
// pipe); empty when the importer may try it.
std::string modelFileProblem(const char* path);

// The checks, then the import with the program's flags and the placed parts, bounded in memory:
// a file that declares more than a real model needs fails like any refused file.
ModelImport importModel(const char* path);
