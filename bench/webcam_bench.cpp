// What steering by the webcam costs the viewer, and the service when nobody watches. Frame times
// of App::step() (default scene, the camera put back before each frame so every frame draws the
// same view) with `handview --webcam` serving a video, against the same with the child stopped
// (SIGSTOP), in alternating blocks; the overlay on against off, frame by frame (three times as many);
// then the service's
// processor time over the 10 s after its last client has gone, and how soon a new client has frames.
#include <assimp/cimport.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "app/App.h"
#include "bench/BenchSupport.h"
#include "camera/HandState.h"
#include "tracker/Address.h"
#include "tracker/DataFiles.h"

namespace {

constexpr const char* kUsage =
    "usage: webcam_bench VIDEO [FRAMES] [REST_ROUNDS]   FRAMES of each (default 300), rounds of the rest (3)";
constexpr int kBlock = 10;  // frames with, then without the child
constexpr double kRestSeconds = 10;
constexpr double kCeilingSeconds = 60;

double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14) ticks += std::stol(field);
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
}

template <typename Done>
bool until(Done done) {
    const auto start = bench::Clock::now();
    while (!done() && bench::secondsSince(start) < kCeilingSeconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

void print(const char* what, const bench::Spread& s) {
    std::printf("%-40s median %7.2f ms   min %7.2f ms   max %7.2f ms\n", what, s.median * 1e3, s.min * 1e3,
                s.max * 1e3);
}

// A frame with a hand from a client of the service at `url`, the seconds it took.
double firstHand(const std::string& url, std::shared_ptr<Leap::Source>& client) {
    Leap::Address address;
    Leap::parseAddress(url, address);
    const auto start = bench::Clock::now();
    client = Leap::makeLiveSource(url, address, true, nullptr);
    until([&] { return client->isConnected() && client->frame(0).hands().count() > 0; });
    return bench::secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4 || argv[1][0] == '-') {
        std::fprintf(stderr, "%s\n", kUsage);
        return 2;
    }
    const std::string video = std::filesystem::absolute(argv[1]).string();
    const int frames = argc >= 3 ? bench::countArgument(argv[2], kUsage) : 300;
    const int rounds = argc >= 4 ? bench::countArgument(argv[3], kUsage) : 3;
    const std::string camera = executableDirectory() + "../handview-camera";
    // The App looks beside its own executable, then on PATH: here the build tree's copy.
    setenv("PATH", (executableDirectory() + "..:" + std::getenv("PATH")).c_str(), 1);
    {
        bench::ModelDir dir(std::string(HANDVIEW_SOURCE_DIR) + "/obj/shapes.obj");
        bench::ScopedChdir inDir(dir.path());
        auto app = std::make_unique<App>();
        app->webcamOption = video.c_str();
        app->hud = true;
        {
            bench::QuietStdout quiet;
            if (!app->init()) bench::ModelDir::fail("App::init failed (is DISPLAY set?)");
        }
        const LeapCam startCamera = app->camera;
        const OglPointLight startLight = app->light;
        const auto step = [&] {
            app->camera = startCamera;
            app->light = startLight;
            app->step();
        };
        if (!until([&] { return step(), app->controller.isConnected() && app->frame.hands().count() > 0; }))
            bench::ModelDir::fail("no hand from handview-camera");
        const pid_t child = app->webcam->child().pid();
        std::vector<double> with, without, hudOn, hudOff;
        for (int i = 0; i < frames / kBlock; ++i) {
            kill(child, i % 2 ? SIGSTOP : SIGCONT);
            for (int k = 0; k < kBlock; ++k) (i % 2 ? without : with).push_back(bench::timedFrame(step));
        }
        kill(child, SIGCONT);
        for (int i = 0; i < 6 * frames; ++i) {
            app->hud = i % 2 == 0;
            (app->hud ? hudOn : hudOff).push_back(bench::timedFrame(step));
        }
        // The overlay alone, its palm moving every frame as in flight, against nothing drawn.
        std::vector<double> alone, nothing;
        HudContent moving = readHandState(true, app->frame, "");
        for (int i = 0; i < 2 * frames; ++i) {
            moving.right = float(i % 100) / 100;
            glFinish();
            (i % 2 ? nothing : alone).push_back(bench::timedFrame([&] {
                if (i % 2 == 0) app->overlay.draw(moving, app->screenWidth, app->screenHeight);
            }));
        }
        std::printf("%dx%d, default scene, %s served; %d frames each, alternating\n", app->screenWidth,
                    app->screenHeight, argv[1], frames);
        const bench::Spread w = bench::spreadOf(with), wo = bench::spreadOf(without);
        const bench::Spread on = bench::spreadOf(hudOn), off = bench::spreadOf(hudOff);
        print("--webcam, the service serving", w);
        print("--webcam, the service stopped", wo);
        std::printf("ratio (medians) %.3f   (aim: at most 1.3)\n", w.median / wo.median);
        print("the overlay on", on);
        print("the overlay off", off);
        std::vector<double> pairs;  // each frame against the next, so that drift in the load cancels
        for (size_t i = 0; i < hudOn.size() && i < hudOff.size(); ++i) pairs.push_back(hudOn[i] - hudOff[i]);
        const double cost = bench::spreadOf(pairs).median;
        std::printf(
            "the overlay costs %.3f ms a frame (median of the differences of neighbouring frames; of "
            "the medians %.3f ms)   (aim: at most 0.3 ms)\n",
            cost * 1e3, (on.median - off.median) * 1e3);
        const double drawn = bench::spreadOf(alone).median - bench::spreadOf(nothing).median;
        std::printf("the overlay alone, moving: %.3f ms (medians of draw and finish, against finish alone)\n",
                    drawn * 1e3);
        bench::result("webcam.frame_ratio", w.median / wo.median);
        bench::result("webcam.overlay_ms", cost * 1e3);
        bench::QuietStdout quiet;
        app.reset();
        SDL_Quit();
        aiDetachAllLogStreams();
    }

    // The service alone: a client reads, leaves; the service rests; the next client is served.
    CameraChild service(camera, webcamArguments(video));
    until([&] { return service.poll(), !service.url().empty() || !service.running(); });
    if (service.url().empty()) bench::ModelDir::fail("handview-camera did not serve");
    std::shared_ptr<Leap::Source> client;
    std::printf("first hand for a client after %.2f s (the service just started)\n",
                firstHand(service.url(), client));
    for (int round = 1; round <= rounds; ++round) {
        double cpu = cpuSeconds(service.pid());
        for (const auto start = bench::Clock::now(); bench::secondsSince(start) < kRestSeconds;) {
            client->frame(0);  // read as the viewer reads
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const double serving = cpuSeconds(service.pid()) - cpu;
        client.reset();
        cpu = cpuSeconds(service.pid());
        std::this_thread::sleep_for(std::chrono::duration<double>(kRestSeconds));
        service.poll();
        const double resting = cpuSeconds(service.pid()) - cpu;
        const double again = firstHand(service.url(), client);
        std::printf(
            "round %d: serving %.2f CPU-s over 10 s; after the last client went %.3f CPU-s over 10 s (aim: at most "
            "0.1); a new client's first hand after %.2f s (aim: within 2)\n",
            round, serving, resting, again);
        bench::result("webcam.rest_cpu_s", resting);
        bench::result("webcam.again_s", again);
    }
    return 0;
}
