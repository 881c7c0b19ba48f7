// Frame time against its bound: App::step() versus a minimal renderer of the same triangles
// (one vertex array object, one vertex and one index buffer, one draw per part), same program,
// same uniforms, same window, frames alternating in one run. With --named, a user's model drawn
// as it is, without its images, and with its back faces culled, frames alternating likewise.
#include <assimp/cimport.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"
#include "app/App.h"

namespace {

constexpr const char* kUsage =
    "usage: frame_bench MODEL.obj [FRAMES]           FRAMES timed frames of each (default 200)\n"
    "       frame_bench --named MODEL [FRAMES]   a named model with and without its images, both sides and culled";
constexpr int kDefaultFrames = 200;
constexpr int kWarmUpFrames = 10;

// All parts in one buffer pair, drawn with the App's own program, camera and light.
class MinimalRenderer {
public:
    MinimalRenderer(const OglMesh& mesh, GLuint program) : program_(program) {
        colLocation_ = glGetUniformLocation(program, "col");
        std::vector<float> vertices;
        std::vector<uint32_t> indices;
        size_t vertexCount = 0;
        for (const OglMeshPart& part : mesh.parts) {
            const GLsizei count = drawnIndexCount(part.indexBuffer);
            draws_.push_back({count, indices.size() * sizeof(uint32_t), part.color});
            for (GLsizei i = 0; i < count; ++i)
                indices.push_back(static_cast<uint32_t>(part.indexBuffer.indices[i] + vertexCount));
            vertices.insert(vertices.end(), part.vertexBuffer.vertices.begin(),
                            part.vertexBuffer.vertices.end());
            vertexCount += part.vertexBuffer.vertices.size() / part.vertexBuffer.stride;
        }

        glGenVertexArrays(1, &vao_);
        glBindVertexArray(vao_);
        GLuint buffers[2];
        glGenBuffers(2, buffers);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        glBufferData(GL_ARRAY_BUFFER, vertices.size() * sizeof(float), vertices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, indices.size() * sizeof(uint32_t), indices.data(),
                     GL_STATIC_DRAW);
        if (!mesh.parts.empty()) {
            const OglBuffVertex& layoutOf = mesh.parts.front().vertexBuffer;
            intptr_t offset = 0;
            for (GLuint i = 0; i < layoutOf.layout.size(); ++i) {
                glEnableVertexAttribArray(i);
                glVertexAttribPointer(i, layoutOf.layout[i].components, GL_FLOAT, GL_FALSE,
                                      layoutOf.stride * sizeof(float), reinterpret_cast<const void*>(offset));
                offset += layoutOf.layout[i].components * sizeof(float);
            }
        }
        glBindVertexArray(0);
    }

    void frame(App& app) {
        glUseProgram(program_);
        app.camera.update();
        app.light.uploadUniforms();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBindVertexArray(vao_);
        for (const Draw& d : draws_) {
            glUniform3f(colLocation_, d.color.r, d.color.g, d.color.b);
            glDrawElements(GL_TRIANGLES, d.count, GL_UNSIGNED_INT,
                           reinterpret_cast<const void*>(d.offsetBytes));
        }
        glBindVertexArray(0);  // the App draws without a vertex array object
        SDL_GL_SwapWindow(app.window);
    }

private:
    struct Draw {
        GLsizei count;
        uintptr_t offsetBytes;
        PartColor color;
    };
    GLuint program_;
    GLint colLocation_ = -1;
    GLuint vao_ = 0;
    std::vector<Draw> draws_;
};

void printMedian(const char* label, const std::string& key, const std::vector<double>& seconds) {
    const bench::Spread s = bench::spreadOf(seconds);
    std::printf("%-28s median %8.2f ms   min %8.2f ms   max %8.2f ms\n", label, s.median * 1e3, s.min * 1e3,
                s.max * 1e3);
    bench::result(key, s.median * 1e3);
}

// The same App and model in each frame; only the images, or the culling, are taken away for one.
int named(const char* model, int frames) {
    const std::string path = bench::fs::absolute(model).string();
    bench::ScopedChdir inDir(bench::fs::path(HANDVIEW_SOURCE_DIR));
    std::unique_ptr<App> app = std::make_unique<App>();
    app->modelPath = path.c_str();
    {
        bench::QuietStdout quiet;
        if (!app->init()) bench::ModelDir::fail("App::init failed (is DISPLAY set?)");
    }
    const auto withoutImages = [&app] {
        std::vector<GLuint> textures;
        for (OglMeshPart& part : app->mesh.parts) textures.push_back(std::exchange(part.texture, 0));
        app->step();
        for (size_t i = 0; i < textures.size(); ++i) app->mesh.parts[i].texture = textures[i];
    };
    const auto culled = [&app] {
        app->mesh.bothSides = false;
        glEnable(GL_CULL_FACE);
        app->step();
        app->mesh.bothSides = true;
    };
    std::vector<double> asItIs, untextured, oneSided;
    for (int i = -kWarmUpFrames; i < frames; ++i) {
        const double a = bench::timedFrame([&] { app->step(); }), b = bench::timedFrame(withoutImages),
                     c = bench::timedFrame(culled);
        if (i < 0) continue;
        asItIs.push_back(a);
        untextured.push_back(b);
        oneSided.push_back(c);
    }
    size_t textured = 0;
    for (const OglMeshPart& part : app->mesh.parts) textured += part.texture != 0;
    std::printf("model %s: %zu parts, %zu with an image, %dx%d, %d frames each, alternating\n", model,
                app->mesh.parts.size(), textured, app->screenWidth, app->screenHeight, frames);
    printMedian("as shown (images, both sides)", "frame.named.median_ms", asItIs);
    printMedian("without its images", "frame.untextured.median_ms", untextured);
    printMedian("back faces culled", "frame.culled.median_ms", oneSided);
    const double m = bench::spreadOf(asItIs).median;
    std::printf("ratio with/without images %.3f, both sides/culled %.3f (medians)\n",
                m / bench::spreadOf(untextured).median, m / bench::spreadOf(oneSided).median);
    bench::result("frame.images_ratio", m / bench::spreadOf(untextured).median);
    bench::result("frame.both_sides_ratio", m / bench::spreadOf(oneSided).median);
    {
        bench::QuietStdout quiet;
        app.reset();
        SDL_Quit();
        aiDetachAllLogStreams();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--named") == 0)
        return named(argv[2], argc == 4 ? bench::countArgument(argv[3], kUsage) : kDefaultFrames);
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        std::fprintf(stderr, "%s\n", kUsage);
        return 2;
    }
    const int frames = argc == 3 ? bench::countArgument(argv[2], kUsage) : kDefaultFrames;
    bench::ModelDir dir(argv[1]);
    bench::ScopedChdir inDir(dir.path());

    std::unique_ptr<App> app = std::make_unique<App>();
    {
        bench::QuietStdout quiet;
        if (!app->init()) bench::ModelDir::fail("App::init failed (is DISPLAY set?)");
    }
    MinimalRenderer minimal(app->mesh, app->program.program);
    size_t triangles = 0;
    for (const OglMeshPart& part : app->mesh.parts) triangles += drawnIndexCount(part.indexBuffer) / 3;

    for (int i = 0; i < kWarmUpFrames; ++i) {
        bench::timedFrame([&] { app->step(); });
        bench::timedFrame([&] { minimal.frame(*app); });
    }
    // Alternating frame by frame, so drift in the machine's load hits both alike.
    std::vector<double> steps, minimals;
    for (int i = 0; i < frames; ++i) {
        steps.push_back(bench::timedFrame([&] { app->step(); }));
        minimals.push_back(bench::timedFrame([&] { minimal.frame(*app); }));
    }

    const bench::Spread s = bench::spreadOf(steps);
    const bench::Spread m = bench::spreadOf(minimals);
    std::printf("model %s: %zu parts, %zu triangles, %dx%d, %d frames each, alternating\n", argv[1],
                app->mesh.parts.size(), triangles, app->screenWidth, app->screenHeight, frames);
    std::printf("%-28s median %8.2f ms   min %8.2f ms   max %8.2f ms\n", "App::step", s.median * 1e3,
                s.min * 1e3, s.max * 1e3);
    std::printf("%-28s median %8.2f ms   min %8.2f ms   max %8.2f ms\n", "minimal renderer", m.median * 1e3,
                m.min * 1e3, m.max * 1e3);
    const double ratio = m.median > 0.0 ? s.median / m.median : 0.0;
    std::printf("ratio step/minimal (medians) %.3f\n", ratio);
    bench::result("frame.app.median_ms", s.median * 1e3);
    bench::result("frame.minimal.median_ms", m.median * 1e3);
    bench::result("frame.ratio", ratio);

    {
        bench::QuietStdout quiet;
        app.reset();
        SDL_Quit();
        aiDetachAllLogStreams();
    }
    return 0;
}
