// Every input kept in fuzz/corpus, imported and built as the fuzzer does, so that regression
// inputs stay covered by the ordinary test run and the sanitizer build.
#include <gtest/gtest.h>

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/ImportHint.h"
#include "render/OglMesh.h"
#include "support/TestData.h"

namespace {
namespace fs = std::filesystem;

std::vector<std::string> corpusFiles() {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(sourcePath("fuzz/corpus")))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

class FuzzCorpusTest : public testing::TestWithParam<std::string> {};
}  // namespace

TEST_P(FuzzCorpusTest, ImportsAndBuildsPartsTheUploadCanTrust) {
    const std::string name = GetParam();
    const std::vector<char> bytes = readBytes(sourcePath("fuzz/corpus/" + name));
    ASSERT_GE(bytes.size(), 2u) << "the first byte names the format; a file needs at least one more";

    const aiScene* scene = aiImportFileFromMemory(bytes.data() + 1, static_cast<unsigned>(bytes.size() - 1),
                                                  kImportFlags, importHint(static_cast<uint8_t>(bytes[0])));
    std::vector<OglMeshPart> parts;
    if (sceneHasMeshes(scene)) parts = buildParts(*scene, decideFlags(*scene));

    for (const OglMeshPart& part : parts) {
        const OglBuffVertex& v = part.vertexBuffer;
        const OglBuffIndex& i = part.indexBuffer;
        ASSERT_GT(v.stride, 0);
        EXPECT_EQ(v.data, v.vertices.data());
        EXPECT_EQ(v.count, static_cast<int32_t>(v.vertices.size()));
        EXPECT_EQ(v.count % v.stride, 0);
        EXPECT_EQ(i.count, static_cast<int32_t>(i.indices.size()));
        EXPECT_GT(i.count, 0);
        EXPECT_EQ(i.count % 3, 0);
        const uint32_t vertexCount = static_cast<uint32_t>(v.count / v.stride);
        for (uint32_t index : i.indices) ASSERT_LT(index, vertexCount);
    }
    // Odd and regression inputs only have to survive; the plain seeds are valid files of each format.
    if (!startsWith(name, "odd-") && !startsWith(name, "regression-")) {
        EXPECT_FALSE(parts.empty()) << name << " is a valid file but gave nothing to draw: "
                                    << (scene ? "no triangles" : aiGetErrorString());
    }
    aiReleaseImport(scene);
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzCorpusTest, testing::ValuesIn(corpusFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });
