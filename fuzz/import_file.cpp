// Imports one file the way the viewer does (aiImportFile, its flags) and builds the parts:
// the fuzz script runs each finding through it to tell whether the viewer itself would hit it.
#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdio>

#include "render/OglMesh.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: import_file FILE\n");
        return 2;
    }
    const aiScene* scene = aiImportFile(argv[1], kImportFlags);
    if (scene == nullptr) {
        std::printf("import failed: %s\n", aiGetErrorString());
        return 0;
    }
    size_t parts = 0;
    if (sceneHasMeshes(scene)) parts = buildParts(*scene, decideFlags(*scene)).size();
    std::printf("parts: %zu\n", parts);
    aiReleaseImport(scene);
    return 0;
}
