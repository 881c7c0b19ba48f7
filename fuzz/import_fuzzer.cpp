// libFuzzer target: import the bytes with the viewer's flags and build the parts it would upload.
// The first byte picks the format hint, the rest is the file. The unit tests replay fuzz/corpus.
#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "render/MeshParts.h"
#include "render/OglMesh.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const hints[] = {"obj", "ply", "stl", "off", "gltf"};
    if (size < 2) return 0;
    const aiScene* scene = aiImportFileFromMemory(reinterpret_cast<const char*>(data + 1), static_cast<unsigned>(size - 1),
                                                  kImportFlags, hints[data[0] % 5]);
    // What the upload and the draw take on trust: sizes agree and every index names a vertex; also as
    // a named model is built, placed by its nodes and fitted.
    for (const bool named : {false, true}) {
        std::vector<OglMeshPart> parts;
        if (sceneHasMeshes(scene)) parts = named ? buildPlacedParts(*scene, decideFlags(*scene)) : buildParts(*scene, decideFlags(*scene));
        if (named) fitToDefaultScene(parts);
        for (const OglMeshPart& part : parts) {
            const OglBuffVertex& v = part.vertexBuffer;
            const OglBuffIndex& i = part.indexBuffer;
            if (v.data != v.vertices.data() || i.data != i.indices.data() || v.stride <= 0 || v.count % v.stride != 0 ||
                v.byteSize != v.count * 4 || i.count <= 0 || i.count % 3 != 0)
                std::abort();
            for (uint32_t index : i.indices)
                if (index >= static_cast<uint32_t>(v.count / v.stride)) std::abort();
        }
    }
    aiReleaseImport(scene);
    return 0;
}
