// A model file the user names: checked before the importer sees it, imported under a memory bound.
#pragma once

#include <assimp/postprocess.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "render/MeshParts.h"

struct aiScene;

// Assimp's realtime max-quality preset plus Debone.
constexpr unsigned kImportFlags =
    aiProcess_CalcTangentSpace | aiProcess_JoinIdenticalVertices | aiProcess_Triangulate |
    aiProcess_GenSmoothNormals | aiProcess_SplitLargeMeshes | aiProcess_LimitBoneWeights |
    aiProcess_ValidateDataStructure | aiProcess_ImproveCacheLocality | aiProcess_RemoveRedundantMaterials |
    aiProcess_SortByPType | aiProcess_FindDegenerates | aiProcess_FindInvalidData | aiProcess_GenUVCoords |
    aiProcess_FindInstances | aiProcess_OptimizeMeshes | aiProcess_Debone;

struct ModelImport {
    const aiScene* scene = nullptr;  // owned by the caller; null when `error` says why
    std::string error;
    double seconds = 0.0;            // the import alone
    bool meshes = false;             // whether the scene has any to draw
    std::vector<OglMeshPart> parts;  // placed by the scene's nodes, up turned up, filled, not uploaded
};

// Why the file cannot be read, found without opening anything that could block (a named pipe);
// empty for a regular file that opens and is not empty.
std::string fileProblem(const char* path);
// The same, and why the importer cannot take it; empty when it may try.
std::string modelFileProblem(const char* path);

// The checks, then the import with the program's flags and the placed parts, bounded in memory:
// a file that declares more than a real model needs fails like any refused file.
ModelImport importModel(const char* path, ModelUp up = ModelUp::Declared);

// What an import (or an image's decode) may add to the address space: half the machine's memory,
// at most 8 GiB.
rlim_t importBudget();
// Lowers the address-space limit to what is in use plus the budget while it lives, so that an
// allocation past it fails (std::bad_alloc, or a null from malloc) instead of taking the machine's
// memory.
class ImportMemoryBound {
public:
    ImportMemoryBound();
    ~ImportMemoryBound();
    ImportMemoryBound(const ImportMemoryBound&) = delete;
    ImportMemoryBound& operator=(const ImportMemoryBound&) = delete;

private:
    rlimit saved_{};
    bool active_ = false;
};
