// Start-up against its bound: the bare import of the model (and the decoding of its images) versus
// the program's own start-up up to the first presented frame, alternating in one run; or one of
// them once, for peak memory. The model is the default scene's file, or (--named) a model named on
// the command line.
#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "app/App.h"
#include "render/ModelImages.h"

namespace {

constexpr const char* kUsage =
    "usage: startup_bench MODEL.obj [N]           alternate bare import and App start-up, N times each "
    "(default 5)\n"
    "       startup_bench --import-once MODEL.obj  bare import once, then print its peak memory\n"
    "       startup_bench --app-once MODEL.obj     App start-up and first frame once, then print its peak "
    "memory\n"
    "       startup_bench --named MODEL [N]        the same as the first for a model named on the command line "
    "(any format: checked, bounded, placed by its nodes, framed, its images decoded and uploaded), beside the start-up\n"
    "                                              of a 60-triangle model (the window, the shaders, the first frame)\n"
    "       startup_bench --named-once MODEL       App start-up and first frame of a named model once, then print its peak "
    "memory and its images' decoded size";
constexpr int kDefaultRuns = 5;

struct ImportTimes {
    double import = 0.0;
    double decode = 0.0;
    double release = 0.0;
    size_t decodedBytes = 0;
};

// Each image of the scene's materials, decoded once and freed, as the viewer decodes them.
size_t decodeImages(const aiScene& scene, const std::string& folder) {
    size_t bytes = 0;
    std::set<std::string> seen;
    for (unsigned m = 0; m < scene.mNumMaterials; ++m) {
        const MaterialImage wanted = materialImage(scene, m);
        if (wanted.written.empty() || !seen.insert(wanted.written).second) continue;
        const DecodedImage image = decodeImage(findImage(scene, wanted.written, folder), kMaxImageSide);
        bytes += size_t(image.width) * size_t(image.height) * 4;
    }
    return bytes;
}

// (a) What start-up cannot beat: the import with the program's flags and log stream, the decoding
// of a named model's images, and the release.
ImportTimes bareImport(const char* path = kMeshPath, bool named = false) {
    bench::QuietStdout quiet;
    const bench::Clock::time_point start = bench::Clock::now();
    aiLogStream stream = aiGetPredefinedLogStream(aiDefaultLogStream_STDOUT, nullptr);
    aiAttachLogStream(&stream);
    const aiScene* scene = aiImportFile(path, kImportFlags);
    ImportTimes times;
    times.import = bench::secondsSince(start);
    if (scene == nullptr) bench::ModelDir::fail(std::string("import failed: ") + aiGetErrorString());
    if (named) times.decodedBytes = decodeImages(*scene, bench::fs::path(path).parent_path().string());
    times.decode = bench::secondsSince(start) - times.import;
    aiReleaseImport(scene);
    times.release = bench::secondsSince(start) - times.import - times.decode;
    aiDetachAllLogStreams();
    return times;
}

struct AppStart {
    double seconds = 0.0;
    size_t parts = 0;
    size_t arrayBytes = 0;  // CPU-side vertex and index arrays of all parts
};

// (b) The program's start-up: App construction, init() and one step(), until the frame is done.
AppStart appStart(const char* named = nullptr) {
    AppStart started;
    std::unique_ptr<App> app;
    {
        bench::QuietStdout quiet;
        const bench::Clock::time_point start = bench::Clock::now();
        app = std::make_unique<App>();
        app->modelPath = named;
        if (!app->init()) bench::ModelDir::fail("App::init failed (is DISPLAY set?)");
        app->step();
        glFinish();
        started.seconds = bench::secondsSince(start);
    }
    started.parts = app->mesh.parts.size();
    for (const OglMeshPart& part : app->mesh.parts)
        started.arrayBytes += part.vertexBuffer.vertices.size() * sizeof(float) +
                              part.indexBuffer.indices.size() * sizeof(uint32_t);
    {
        bench::QuietStdout quiet;
        app.reset();
        SDL_Quit();  // the App leaves SDL running; the next one starts clean
        aiDetachAllLogStreams();
    }
    return started;
}

void printSpread(const char* label, const std::string& key, const std::vector<double>& seconds) {
    const bench::Spread s = bench::spreadOf(seconds);
    std::printf("%-34s median %8.3f s   min %8.3f s   max %8.3f s\n", label, s.median, s.min, s.max);
    bench::result(key + ".median_s", s.median);
    bench::result(key + ".min_s", s.min);
    bench::result(key + ".max_s", s.max);
}

int compare(const char* model, int runs, bool namedModel) {
    // A named model is opened where it is; the shaders then come from the working directory.
    const std::string path = bench::fs::absolute(model).string();
    const char* const named = namedModel ? path.c_str() : nullptr;
    std::unique_ptr<bench::ModelDir> dir(namedModel ? nullptr : new bench::ModelDir(model));
    bench::ScopedChdir inDir(named ? bench::fs::path(HANDVIEW_SOURCE_DIR) : dir->path());
    const char* const imported = named ? named : kMeshPath;

    // The fixed cost of a named model's start-up: the window, the shaders, the first frame.
    const std::string tiny = HANDVIEW_SOURCE_DIR "/tests/data/models/nodes.gltf";

    // One untimed round first: the driver, the shader compiler and the file are then warm for both.
    const ImportTimes warm = bareImport(imported, named);
    const AppStart first = appStart(named);
    if (named) appStart(tiny.c_str());

    std::vector<double> imports, decodes, importReleases, apps, tinies;
    for (int i = 0; i < runs; ++i) {
        const ImportTimes a = bareImport(imported, named);
        imports.push_back(a.import);
        decodes.push_back(a.decode);
        importReleases.push_back(a.import + a.decode + a.release);
        apps.push_back(appStart(named).seconds);
        if (named) tinies.push_back(appStart(tiny.c_str()).seconds);
        std::fprintf(stderr, "run %d/%d: import+decode+release %.3f s, start-up %.3f s\n", i + 1, runs,
                     importReleases.back(), apps.back());
    }
    std::printf(
        "model %s: %zu parts, %.1f MB of vertex and index arrays, %.1f MB of images decoded; %d runs each, "
        "alternating\n",
        model, first.parts, first.arrayBytes / 1e6, warm.decodedBytes / 1e6, runs);
    printSpread("(a) bare import + decoding + release", "startup.import", importReleases);
    printSpread("    of which the import alone", "startup.import_only", imports);
    printSpread("    of which the images' decoding", "startup.decode", decodes);
    printSpread("(b) App start-up to first frame", "startup.app", apps);
    const double a = bench::spreadOf(importReleases).median, b = bench::spreadOf(apps).median;
    std::printf("ratio b/a (medians) %.3f\n", b / a);
    bench::result("startup.ratio", b / a);
    if (named) {
        printSpread("(c) App start-up, 60 triangles", "startup.tiny", tinies);
        const double c = bench::spreadOf(tinies).median;
        std::printf("ratio (b - c)/a, the start-up beyond its fixed cost (medians) %.3f\n", (b - c) / a);
        bench::result("startup.beyond_fixed_ratio", (b - c) / a);
    }
    return 0;
}

int importOnce(const char* model) {
    bench::ModelDir dir(model);
    bench::ScopedChdir inDir(dir.path());
    const ImportTimes a = bareImport();
    std::printf("bare import + release %.3f s, peak resident %ld kB\n", a.import + a.release,
                bench::peakResidentKb());
    bench::result("memory.import.peak_kb", bench::peakResidentKb());
    return 0;
}

int appOnce(const char* model) {
    bench::ModelDir dir(model);
    bench::ScopedChdir inDir(dir.path());
    const AppStart b = appStart();
    std::printf("App start-up %.3f s, %zu parts, arrays %zu bytes, peak resident %ld kB\n", b.seconds,
                b.parts, b.arrayBytes, bench::peakResidentKb());
    bench::result("memory.app.peak_kb", bench::peakResidentKb());
    bench::result("memory.app.array_kb", b.arrayBytes / 1024.0);
    return 0;
}

}  // namespace

int namedOnce(const char* model) {
    const std::string path = bench::fs::absolute(model).string();
    bench::ScopedChdir inDir(bench::fs::path(HANDVIEW_SOURCE_DIR));
    const AppStart b = appStart(path.c_str());
    const long peakKb = bench::peakResidentKb();
    const ImportTimes a = bareImport(path.c_str(), true);  // for the images' size, once the peak is taken
    std::printf("App start-up %.3f s, %zu parts, images %zu bytes decoded, peak resident %ld kB\n", b.seconds,
                b.parts, a.decodedBytes, peakKb);
    bench::result("memory.app.peak_kb", peakKb);
    bench::result("memory.app.images_kb", a.decodedBytes / 1024.0);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--import-once") == 0) return importOnce(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--named-once") == 0) return namedOnce(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--app-once") == 0) return appOnce(argv[2]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--named") == 0)
        return compare(argv[2], argc == 4 ? bench::countArgument(argv[3], kUsage) : kDefaultRuns, true);
    if ((argc == 2 || argc == 3) && argv[1][0] != '-')
        return compare(argv[1], argc == 3 ? bench::countArgument(argv[2], kUsage) : kDefaultRuns, false);
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
}
