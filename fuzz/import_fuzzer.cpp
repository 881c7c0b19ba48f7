// libFuzzer target: import the bytes with the viewer's flags and build the parts it would upload.
// The first byte picks the format hint (fuzz/ImportHint.h), the rest is the file.
#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/ImportHint.h"
#include "render/OglMesh.h"

// FUZZ_IMPORT_LOG=1 prints the importer's verbose log, to see which step a finding dies in.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* log = std::getenv("FUZZ_IMPORT_LOG");
    if (log != nullptr && *log == '1') {
        aiLogStream stream = aiGetPredefinedLogStream(aiDefaultLogStream_STDERR, nullptr);
        aiAttachLogStream(&stream);
        aiEnableVerboseLogging(AI_TRUE);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const aiScene* scene =
        aiImportFileFromMemory(reinterpret_cast<const char*>(data + 1), static_cast<unsigned>(size - 1),
                               kImportFlags, importHint(data[0]));
    if (sceneHasMeshes(scene)) {
        const MeshFlags flags = decideFlags(*scene);
        const std::vector<OglMeshPart> parts = buildParts(*scene, flags);
        // What the upload and the draw take on trust: sizes agree and every index names a vertex.
        for (const OglMeshPart& part : parts) {
            const OglBuffVertex& v = part.vertexBuffer;
            const OglBuffIndex& i = part.indexBuffer;
            const bool consistent = v.data == v.vertices.data() && i.data == i.indices.data() &&
                                    v.stride > 0 && v.count % v.stride == 0 && v.byteSize == v.count * 4 &&
                                    i.count > 0 && i.count % 3 == 0;
            if (!consistent) std::abort();
            const uint32_t vertexCount = static_cast<uint32_t>(v.count / v.stride);
            for (uint32_t index : i.indices)
                if (index >= vertexCount) std::abort();
        }
    }
    aiReleaseImport(scene);
    return 0;
}
